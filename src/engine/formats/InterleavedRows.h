#pragma once

#include "filter/PixelImage.h"

#include <cstdint>

// How a decoder hands over a row: red, green, blue (and alpha when `channels` is 4), one byte a
// sample when `bits` is 8, else a 16-bit word in the machine's order holding `bits` bits.
struct InterleavedLayout {
    int channels = 3;
    int bits = 8;
    bool premultiplied = false;  // the colours already multiplied by their alpha
};

// A sample of `bits` bits (9 to 16) as 8 bits, to the nearest: v × 255 / (2^bits − 1), halves
// up. The same value a 16-bit PNG gets from libpng's scaling, for 16 bits.
inline std::uint8_t ToEightBits(std::uint32_t value, int bits) {
    const std::uint32_t most = (1u << bits) - 1;
    return static_cast<std::uint8_t>((value * 255 + most / 2) / most);
}

// Writes `row` (`width` pixels as `layout` says) into row `y` of `picture`, in its 4-byte layout,
// any alpha flattened over white as for PNG (a premultiplied colour plus the white that shows).
void PutInterleavedRow(BgrxImage& picture, int y, const void* row, InterleavedLayout layout);
