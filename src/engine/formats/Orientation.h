#pragma once

#include "filter/PixelImage.h"

#include <cstddef>
#include <cstdint>

// Whether the orientation turns the picture a quarter, so that its width and height swap.
inline bool SwapsSides(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// The picture as a viewer shows it, upright, for the orientation a camera records in Exif: 1 as
// stored, 2 mirrored, 3 turned half round, 4 upside-down mirror, 5 to 8 the quarter turns
// (mirrored or not).
BgrxImage Orient(BgrxImage picture, int orientation);
