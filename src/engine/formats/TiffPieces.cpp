#include "engine/formats/TiffPieces.h"

#include <algorithm>

std::vector<TiffPiece> TiffPiecesOf(const TiffDirectory& d, bool tiled, std::size_t most) {
    const auto offsets = d.values(tiled ? 324 : 273, most);
    const auto counts = d.values(tiled ? 325 : 279, most);
    std::vector<TiffPiece> pieces;
    for (std::size_t i = 0; i < offsets.size() && i < counts.size(); ++i) {
        pieces.push_back({offsets[i], counts[i]});
    }
    return pieces;
}

std::vector<ByteRange> TiffStructureOf(const std::vector<TiffDirectory>& directories) {
    std::vector<ByteRange> structure{{0, 8}};
    for (const TiffDirectory& d : directories) {
        structure.push_back(d.extent());
        for (const ByteRange& r : d.valueExtents()) {
            structure.push_back(r);
        }
    }
    return structure;
}

std::string CheckTiffPieces(const std::vector<TiffPiece>& pieces, bool tiled,
                            std::span<const std::uint8_t> b, std::vector<ByteRange> structure,
                            const std::string& owner) {
    const auto name = [&](std::size_t k) {
        return owner + (tiled ? "tile " : "strip ") + std::to_string(k);
    };
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        const TiffPiece& p = pieces[k];
        if (p.offset + p.bytes > b.size()) {
            return "its header states " + std::to_string(p.offset + p.bytes) +
                   " bytes, the file holds " + std::to_string(b.size());
        }
        if (p.bytes == 0) {
            return "its " + name(k) + " is empty";
        }
    }
    std::vector<std::size_t> order(pieces.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        order[k] = k;
    }
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t c) { return pieces[a].offset < pieces[c].offset; });
    for (std::size_t i = 1; i < order.size(); ++i) {
        const TiffPiece& before = pieces[order[i - 1]];
        if (before.offset + before.bytes > pieces[order[i]].offset) {
            return "its " + name(order[i - 1]) + " and " + (tiled ? "tile " : "strip ") +
                   std::to_string(order[i]) + " share bytes";
        }
    }
    // The structure as disjoint ranges in order, whose ends are then in order too.
    std::sort(structure.begin(), structure.end());
    std::vector<ByteRange> merged;
    for (const ByteRange& r : structure) {
        if (!merged.empty() && r.first <= merged.back().second) {
            merged.back().second = std::max(merged.back().second, r.second);
        } else {
            merged.push_back(r);
        }
    }
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        const TiffPiece& p = pieces[k];
        const auto after =
            std::upper_bound(merged.begin(), merged.end(), p.offset,
                             [](std::uint64_t at, const ByteRange& r) { return at < r.second; });
        if (after != merged.end() && after->first < p.offset + p.bytes) {
            return "its " + name(k) + " overlaps its directories";
        }
    }
    return {};
}
