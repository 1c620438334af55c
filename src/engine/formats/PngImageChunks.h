#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// A PNG file's compressed picture, gathered from its image data chunks so that it can be inflated
// in one call. `data` points into the file when one chunk holds it all, else into `joined`, which
// owns the copy.
struct PngImageChunks {
    std::span<const std::uint8_t> data;
    std::vector<std::uint8_t> joined;
};

// The image data of `file` whose first chunk starts at `first`, when every chunk from there to
// the end chunk is plainly whole: within the file, named with letters, within libpng's length
// limits (`dataLimit` bytes for an image data chunk, its own limit for the rest) and with its
// checksum right. Anything else gives nothing, and libpng then reads the file with its own rules,
// which refuse or pass over such chunks; so what is given here is never what libpng would refuse.
std::optional<PngImageChunks> GatherPngImageChunks(std::span<const std::uint8_t> file,
                                                   std::size_t first, std::uint64_t dataLimit);

// libpng's limit on one image data chunk of a picture of `rowBytes` bytes a row (not counting
// the filter byte) and `height` rows, not interlaced.
std::uint64_t PngDataChunkLimit(std::uint64_t rowBytes, std::uint64_t height);
