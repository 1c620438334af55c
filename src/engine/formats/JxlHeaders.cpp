#include "engine/formats/JxlHeaders.h"

#include <jxl/decode_cxx.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

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

// The boxes of a file in the container, which libjxl passes over: where the parts of its
// codestream lie, and what is wrong with them, if anything: a box that states more than the file
// holds, or the parts out of their order (one missing, or its box's name damaged so that it is
// passed over) or without the last of them. A bare codestream is one part, the whole file.
struct Boxes {
    std::vector<std::pair<std::size_t, std::size_t>> parts;  // [start, end) of each
    std::string fault;
};

Boxes readBoxes(std::span<const std::uint8_t> b) {
    static constexpr std::uint8_t kSignature[12] = {0,   0,   0,    12,   'J',  'X',
                                                    'L', ' ', '\r', '\n', 0x87, '\n'};
    Boxes boxes;
    if (b.size() < 12 || !std::equal(kSignature, kSignature + 12, b.begin())) {
        boxes.parts.emplace_back(0, b.size());
        return boxes;
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
            boxes.fault = "the file ends within a box";
            return boxes;
        }
        if (size < header) {
            boxes.fault = "a box states less than its own header";
            return boxes;
        }
        const auto type = b.subspan(at + 4, 4);
        if (std::equal(type.begin(), type.end(), "jxlp")) {
            if (size < header + 4) {
                boxes.fault = "a part of the codestream states less than its own header";
                return boxes;
            }
            const std::uint64_t index = bigEndian(b, at + header, 4);
            if (lastPart || (index & 0x7FFFFFFF) != nextPart) {
                boxes.fault = "the parts of its codestream are out of their order";
                return boxes;
            }
            ++nextPart;
            lastPart = (index & 0x80000000) != 0;
            boxes.parts.emplace_back(at + header + 4, at + std::size_t(size));
        } else if (std::equal(type.begin(), type.end(), "jxlc")) {
            boxes.parts.emplace_back(at + header, at + std::size_t(size));
        }
        at += std::size_t(size);
    }
    if (nextPart > 0 && !lastPart) {
        boxes.fault = "the file ends before the last part of its codestream";
    }
    return boxes;
}

// The first `count` bytes of the codestream at or after the file's offset `at`, as one number,
// the first byte lowest; none when it ends first.
std::optional<std::uint32_t> codestreamBytes(std::span<const std::uint8_t> b, const Boxes& boxes,
                                             std::size_t at, int count) {
    std::uint32_t v = 0;
    int got = 0;
    for (const auto& [start, end] : boxes.parts) {
        for (std::size_t k = std::max(at, start); k < end && got < count; ++k) {
            v |= std::uint32_t(b[k]) << (8 * got++);
        }
    }
    return got == count ? std::optional<std::uint32_t>(v) : std::nullopt;
}

// How a frame is coded, from the start of its header (`bits`, the first lowest): whether all its
// fields are the defaults (VarDCT, nothing added), its type in two bits, whether it is modular,
// then its flags (a 64-bit number in one of four ways, chosen by two bits).
void readCoding(std::uint32_t bits, JxlHeaders& h) {
    if ((bits & 1) != 0) {
        h.modular = h.noise = h.splines = false;
        return;
    }
    const std::uint32_t type = bits >> 1 & 3;
    constexpr std::uint32_t kDcFrame = 1, kReferenceOnly = 2;
    // Only the regular ones (0) are reported.
    h.unreportedFirst = type != 0;
    if (type == kReferenceOnly) {
        return;  // patches for the frame after it, which is not read
    }
    // A frame of the averages of blocks is followed by the frame whose blocks they are.
    h.modular = type != kDcFrame && (bits & 8) != 0;
    if (type == kDcFrame) {
        return;
    }
    std::uint64_t flags = 0;
    switch (bits >> 4 & 3) {
        case 0:
            break;
        case 1:
            flags = 1 + (bits >> 6 & 0xF);
            break;
        case 2:
            flags = 17 + (bits >> 6 & 0xFF);
            break;
        default:
            flags = bits >> 6 & 0xFFF;  // the lowest 12 bits, which hold all flags in use
            break;
    }
    constexpr std::uint64_t kNoise = 1, kSplines = 16;
    h.noise = (flags & kNoise) != 0;
    h.splines = (flags & kSplines) != 0;
}

}  // namespace

JxlHeaders ReadJxlHeaders(std::span<const std::uint8_t> bytes) {
    JxlHeaders h;
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    JxlDecoder* d = decoder.get();
    // Frames as stored, not blended: each with its own size and the slot that keeps it. Frames
    // are only read, their data skipped. The input is given whole but never closed (see
    // JxlFormat).
    if (!d ||
        JxlDecoderSubscribeEvents(d, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FRAME) !=
            JXL_DEC_SUCCESS ||
        JxlDecoderSetCoalescing(d, JXL_FALSE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(d, bytes.data(), bytes.size()) != JXL_DEC_SUCCESS) {
        h.fault = "the JPEG XL decoder could not start";
        return h;
    }
    std::size_t firstFrame = 0;  // where it begins, just after the headers
    unsigned slots = 0;          // one bit a reference slot
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(d);
        if (status == JXL_DEC_BASIC_INFO) {
            if (JxlDecoderGetBasicInfo(d, &h.info) != JXL_DEC_SUCCESS) {
                break;
            }
            continue;
        }
        if (status == JXL_DEC_COLOR_ENCODING) {
            firstFrame = bytes.size() - JxlDecoderReleaseInput(d);
            JxlDecoderSetInput(d, bytes.data() + firstFrame, bytes.size() - firstFrame);
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
            const Boxes boxes = readBoxes(bytes);
            h.fault = boxes.fault;
            const std::optional<std::uint32_t> first = codestreamBytes(bytes, boxes, firstFrame, 3);
            if (first && !h.info.have_preview) {
                readCoding(*first, h);
            }
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
