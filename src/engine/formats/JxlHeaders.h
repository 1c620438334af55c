#pragma once

#include <jxl/codestream_header.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// What a JPEG XL file's headers say, read by libjxl without decoding any frame: the picture's
// basic information, and the frames that make its first picture (those of no duration before the
// first that lasts, and that one), each from its own header as stored, before frames are blended.
struct JxlHeaders {
    JxlBasicInfo info{};
    // The frames that make the first picture, itself included; the walk stops once there are
    // more than kMostFrames.
    int frames = 0;
    // Their own sizes together, and the largest, in pixels.
    std::uint64_t framePixels = 0;
    std::uint64_t largestFrame = 0;
    // Whether the picture is more than one frame covering the canvas: its decoder then blends
    // every frame on a canvas of floats.
    bool layered = false;
    // The reference slots (0 to 4) in which the frames before it are kept, each a canvas.
    int keptCanvases = 0;
    // How its first frame is coded, from the start of its header: in the modular mode (lossless,
    // or lossy in it) rather than in VarDCT's blocks, with noise made for it, with splines drawn
    // on it. Each true, the costlier, when not known: a preview comes first, or a frame kept only
    // for patches.
    bool modular = true;
    bool noise = true;
    bool splines = true;
    // Whether the first frame is one libjxl decodes without reporting it (kept for the frames
    // after it, the averages of their blocks, or not to be shown while the file loads), so that
    // frames before the first picture may go uncounted above.
    bool unreportedFirst = false;
    // Why the headers cannot be read (the file ends first, or its decoder finds them corrupt),
    // or, in the container, why its boxes cannot be whole; empty when they were.
    std::string fault;

    static constexpr int kMostFrames = 256;
};

// Reads the headers of the whole content `bytes`. Never throws.
JxlHeaders ReadJxlHeaders(std::span<const std::uint8_t> bytes);
