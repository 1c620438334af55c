#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The most an output carries: a JPEG segment holds 65,533 bytes after its length, "Exif\0\0" or
// the XMP namespace's name first. A source's Exif block is read only up to kMostExifRead, in bytes.
inline constexpr std::size_t kMostCarriedExif = 65533 - 6;
inline constexpr std::size_t kMostCarriedXmp = 65533 - 29;
inline constexpr std::size_t kMostExifRead = std::size_t(1) << 20;

// What an output carries of its source's metadata: when and where the photo was taken, with
// what camera, lens and exposure.
struct CaptureData {
    std::string exif;  // a TIFF structure, as it follows "Exif\0\0"; "" for none
    std::string xmp;   // an XMP packet; "" for none
    // Why the source's capture data, or a part of it, is not carried ("its XMP is too large to
    // carry (865,000 bytes)"); "" when nothing is left out.
    std::string leftOut;

    bool empty() const { return exif.empty() && xmp.empty(); }
};

// Why a block of `bytes` is left out: "its WHAT is too large to carry (BYTES bytes)".
std::string CarriedTooLarge(const char* what, std::size_t bytes);

// The Exif and XMP of the picture file `source` (JPEG, TIFF, PNG, WebP, HEIF and AVIF, JPEG XL
// in its container, camera raw files), made for an output of `width` × `height` pixels that is
// already upright: the orientation 1, no thumbnail, the size fields the output's, and none of the
// source's tags about how its own pixels are stored. What cannot be read, or would not fit in a
// JPEG segment (64 KB), is left out: never a failure, nor a module that cannot be loaded. The
// boundary of exiv2 (its module), which says nothing on the terminal. Thread-safe.
CaptureData CaptureDataFor(std::span<const std::uint8_t> source, int width, int height);

// The same made of the blocks that a format's module found in its file without exiv2: `exif` a
// TIFF structure, `xmp` a packet, either empty for none (the caller owns both). A block larger than
// an output carries is left out before it is read; each is read in one pass (ExifForOutput,
// XmpForOutput). Never throws.
CaptureData CaptureDataOf(std::span<const std::uint8_t> exif, std::string_view xmp, int width,
                          int height);

// The same for a picture file built on TIFF (TIFF, DNG, camera raw files): its Exif made of its
// own directories in one walk, every value, the maker note among them, where the file has it, and
// its XMP (tag 700). A file whose kept values lie beyond its first 64 KB, or whose header is not
// TIFF's, goes through exiv2 (CaptureDataFor), which lays them out anew.
CaptureData CaptureDataOfTiffFile(std::span<const std::uint8_t> file, int width, int height);
