#pragma once

#include "engine/formats/TiffDirectory.h"

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

// The strips or tiles of a TIFF structure's directory (a TIFF's picture, a DNG's sensor data),
// as the directory states them, and the checks that every reader of them needs: each within the
// file and not empty, and none sharing bytes with another or with the structure around them.

// One strip or tile: where its bytes begin, and how many there are.
struct TiffPiece {
    std::uint64_t offset = 0;
    std::uint64_t bytes = 0;
};

// Byte ranges [first, second) of a file.
using ByteRange = std::pair<std::uint64_t, std::uint64_t>;

// Up to `most` of the pieces a directory lists, tiles or strips, as far as both its lists are
// whole.
std::vector<TiffPiece> TiffPiecesOf(const TiffDirectory& d, bool tiled, std::size_t most);

// The header and `directories` with their values' bytes: what no piece may overlap.
std::vector<ByteRange> TiffStructureOf(const std::vector<TiffDirectory>& directories);

// Why `pieces` cannot all be read from the file `b`: one lying beyond its end or empty, two
// sharing bytes, one overlapping `structure`; "" when none. `name` says what they are ("strip",
// "raw data's tile"), for the reason.
std::string CheckTiffPieces(const std::vector<TiffPiece>& pieces, bool tiled,
                            std::span<const std::uint8_t> b, std::vector<ByteRange> structure,
                            const std::string& owner);
