#pragma once

#include <cstdint>
#include <span>
#include <string>

// What an output carries of its source's metadata: when and where the photo was taken, with
// what camera, lens and exposure.
struct CaptureData {
    std::string exif;  // a TIFF structure, as it follows "Exif\0\0"; "" for none
    std::string xmp;   // an XMP packet; "" for none

    bool empty() const { return exif.empty() && xmp.empty(); }
};

// The Exif and XMP of the picture file `source` (JPEG, TIFF, PNG, WebP, HEIF and AVIF, JPEG XL
// in its container, camera raw files), made for an output of `width` × `height` pixels that is
// already upright: the orientation 1, no thumbnail, the size fields the output's, and none of the
// source's tags about how its own pixels are stored. What cannot be read, or would not fit in a
// JPEG segment (64 KB), is left out: never a failure. The boundary of exiv2, which says nothing
// on the terminal. Thread-safe.
CaptureData CaptureDataFor(std::span<const std::uint8_t> source, int width, int height);
