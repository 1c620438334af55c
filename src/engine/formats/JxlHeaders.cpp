#include "engine/formats/JxlHeaders.h"

#include <jxl/decode_cxx.h>

#include <algorithm>
#include <bit>

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
