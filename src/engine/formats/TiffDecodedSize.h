#pragma once

#include <cstdint>
#include <optional>
#include <span>

// The bytes that a TIFF strip or tile of `compression` decompresses to, counted without being
// kept, up to a little past `most` (the count stops once it is beyond): PackBits (32773), LZW (5,
// as TIFF writes it), Deflate (8, 32946). Nothing for another compression, for LZW of the old
// kind, or for data its decoder would stop at with an error of its own.
std::optional<std::uint64_t> TiffDecodedSize(std::span<const std::uint8_t> data,
                                             std::uint32_t compression, std::uint64_t most);
