#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The Exif block that an upright output of `width` × `height` pixels carries, made from the
// source's block `tiff` (a TIFF structure, as it follows "Exif\0\0"; the caller owns it): the
// orientation 1, the output's size, none of the source's tags about how its own pixels are stored,
// no entry of a type TIFF does not have, and no picture anywhere (the thumbnail, sub-images, the
// previews in maker notes). The source's values stay at their offsets, so a maker note that points
// into the block still reads as the camera wrote it; only the directories are written anew, each
// after one walk of its entries. The result may be larger than a JPEG segment holds: the caller
// checks. Throws RuntimeError (InvalidPicture) naming what is malformed when the block's header or
// first directory is not within it.
std::string ExifForOutput(std::span<const std::uint8_t> tiff, std::uint32_t width,
                          std::uint32_t height);

// The same for the picture file `file` built on TIFF (TIFF, DNG, and camera raw files whose
// header is TIFF's), whose first directory describes the picture: its capture tags, Exif, GPS and
// maker note, with every value at its offset in the file, made of the file's first `limit` bytes.
// Nothing when a directory or value that the output keeps lies beyond them: only a layout made
// anew would carry it. Reads at most `limit` entries' worth of directories, however large the
// file. Throws as ExifForOutput does.
std::optional<std::string> ExifForOutputOfFile(std::span<const std::uint8_t> file,
                                               std::uint32_t width, std::uint32_t height,
                                               std::uint64_t limit);
