#pragma once

#include "convert/PixelImage.h"

#include <cstddef>
#include <cstdint>

// The orientation a camera records in a JPEG's Exif block: 1 as stored, 2 mirrored, 3 turned
// half round, 4 upside-down mirror, 5 to 8 the quarter turns (mirrored or not). 1 when the file
// says nothing or says it in a way that cannot be read.
int JpegExifOrientation(const std::uint8_t* jpeg, std::size_t size);

// Whether the orientation turns the picture a quarter, so that its width and height swap.
inline bool SwapsSides(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// The picture as a viewer shows it, upright; the same picture for orientation 1.
BgrxImage Orient(BgrxImage picture, int orientation);
