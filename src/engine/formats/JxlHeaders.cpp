#include "engine/formats/JxlHeaders.h"

#include <jxl/decode_cxx.h>

#include <algorithm>
#include <bit>
#include <cstddef>

namespace {

// Whether a frame, as stored, lies over the whole canvas and replaces what is under it.
bool coversCanvas(const JxlFrameHeader& frame, const JxlBasicInfo& info) {
    // The frame's size is given turned as the picture is shown.
    const bool turned = info.orientation > 4;
    const std::uint32_t width = turned ? info.ysize : info.xsize;
    const std::uint32_t height = turned ? info.xsize : info.ysize;
    const JxlLayerInfo& layer = frame.layer_info;
    return layer.blend_info.blendmode == JXL_BLEND_REPLACE &&
           (!layer.have_crop || (layer.crop_x0 == 0 && layer.crop_y0 == 0 && layer.xsize == width &&
                                 layer.ysize == height));
}

std::uint64_t bigEndian(std::span<const std::uint8_t> b, std::size_t at, int width) {
    std::uint64_t v = 0;
    for (int k = 0; k < width; ++k) {
        v = v << 8 | b[at + std::size_t(k)];
    }
    return v;
}

// What is wrong with the boxes of a file in the container, which libjxl passes over: a box
// that states more than the file holds, or the parts of the codestream out of their order (one
// missing, or its box's name damaged so that it is passed over) or without the last of them.
std::string boxFault(std::span<const std::uint8_t> b) {
    static constexpr std::uint8_t kSignature[12] = {0,   0,   0,    12,   'J',  'X',
                                                    'L', ' ', '\r', '\n', 0x87, '\n'};
    if (b.size() < 12 || !std::equal(kSignature, kSignature + 12, b.begin())) {
        return {};  // a bare codestream
    }
    std::uint64_t nextPart = 0;
    bool lastPart = false;
    for (std::size_t at = 0; at < b.size();) {
        const std::size_t left = b.size() - at;
        std::uint64_t size = left >= 4 ? bigEndian(b, at, 4) : 0;
        std::size_t header = 8;
        if (left >= 4 && size == 1) {
            header = 16;
            size = left >= 16 ? bigEndian(b, at + 8, 8) : 0;
        } else if (left >= 8 && size == 0) {
            size = left;  // to the end of the file
        }
        if (left < header || size > left) {
            return "the file ends within a box";
        }
        if (size < header) {
            return "a box states less than its own header";
        }
        if (std::equal(b.begin() + std::ptrdiff_t(at + 4), b.begin() + std::ptrdiff_t(at + 8),
                       "jxlp")) {
            if (size < header + 4) {
                return "a part of the codestream states less than its own header";
            }
            const std::uint64_t index = bigEndian(b, at + header, 4);
            if (lastPart || (index & 0x7FFFFFFF) != nextPart) {
                return "the parts of its codestream are out of their order";
            }
            ++nextPart;
            lastPart = (index & 0x80000000) != 0;
        }
        at += std::size_t(size);
    }
    if (nextPart > 0 && !lastPart) {
        return "the file ends before the last part of its codestream";
    }
    return {};
}

}  // namespace

JxlHeaders ReadJxlHeaders(std::span<const std::uint8_t> bytes) {
    JxlHeaders h;
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    JxlDecoder* d = decoder.get();
    // Frames as stored, not blended: each with its own size and the slot that keeps it. Frames
    // are only read, their data skipped. The input is given whole but never closed (see
    // JxlFormat).
    if (!d || JxlDecoderSubscribeEvents(d, JXL_DEC_BASIC_INFO | JXL_DEC_FRAME) != JXL_DEC_SUCCESS ||
        JxlDecoderSetCoalescing(d, JXL_FALSE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(d, bytes.data(), bytes.size()) != JXL_DEC_SUCCESS) {
        h.fault = "the JPEG XL decoder could not start";
        return h;
    }
    bool gotInfo = false;
    unsigned slots = 0;  // one bit a reference slot
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(d);
        if (status == JXL_DEC_BASIC_INFO) {
            gotInfo = JxlDecoderGetBasicInfo(d, &h.info) == JXL_DEC_SUCCESS;
            if (!gotInfo) {
                break;
            }
            continue;
        }
        JxlFrameHeader frame{};
        if (status != JXL_DEC_FRAME || JxlDecoderGetFrameHeader(d, &frame) != JXL_DEC_SUCCESS) {
            h.fault = status == JXL_DEC_NEED_MORE_INPUT ? "the file ends before the picture does"
                                                        : "the JPEG XL decoder found it corrupt";
            return h;
        }
        ++h.frames;
        const std::uint64_t pixels = std::uint64_t(frame.layer_info.xsize) * frame.layer_info.ysize;
        h.framePixels += pixels;
        h.largestFrame = std::max(h.largestFrame, pixels);
        h.layered = h.layered || h.frames > 1 || !coversCanvas(frame, h.info);
        // A frame of no duration before the last is shown only with the frames after it, which
        // may take from the slot it is kept in.
        if (frame.duration > 0 || frame.is_last) {
            h.fault = boxFault(bytes);
            return h;
        }
        slots |= 1u << (frame.layer_info.save_as_reference & 3);
        h.keptCanvases = std::popcount(slots);
        if (h.frames > JxlHeaders::kMostFrames) {
            return h;
        }
    }
    h.fault = "the JPEG XL decoder found it corrupt";
    return h;
}
