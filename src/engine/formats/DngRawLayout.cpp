#include "engine/formats/DngRawLayout.h"

#include "engine/formats/RawJpegPiece.h"
#include "engine/formats/TiffDirectory.h"

#include <algorithm>
#include <set>

namespace {

constexpr std::size_t kMostDirectories = 64;
constexpr int kDeepestSubIfd = 4;

// Every directory, in the order LibRaw numbers them: each of the chain, each followed by those
// below it (SubIFDs), depth first.
std::vector<TiffDirectory> directoriesOf(std::span<const std::uint8_t> b) {
    std::vector<TiffDirectory> found;
    std::set<std::uint64_t> seen;
    const auto visit = [&](auto& self, std::uint64_t at, int depth) -> void {
        if (found.size() >= kMostDirectories || depth > kDeepestSubIfd || !seen.insert(at).second) {
            return;
        }
        const TiffDirectory d(b, at);
        if (!d.found()) {
            return;
        }
        found.push_back(d);
        for (const std::uint32_t below : d.values(330, kMostDirectories)) {
            self(self, below, depth + 1);
        }
    };
    for (std::uint64_t at = TiffDirectory(b).extent().first;
         at != 0 && found.size() < kMostDirectories; at = TiffDirectory(b, at).next()) {
        if (seen.count(at) != 0) {
            break;
        }
        visit(visit, at, 0);
    }
    return found;
}

// A full-size picture of the sensor, as LibRaw chooses its raw directory.
bool isRaw(const TiffDirectory& d) {
    const std::uint32_t width = d.value(256).value_or(0);
    const std::uint32_t height = d.value(257).value_or(0);
    const std::uint32_t photometric = d.value(262).value_or(0);
    return d.value(254).value_or(0) == 0 && (photometric == 32803 || photometric == 34892) &&
           width >= 1 && width <= 65535 && height >= 1 && height <= 65535;
}

std::string pieceName(const DngRawLayout& l, std::size_t k) {
    return std::string(l.tiled ? "tile " : "strip ") + std::to_string(k);
}

// The checks that need the pieces' bytes: each present, none sharing bytes with another or with
// `structure`, and holding what the layout says.
std::string checkPieces(const DngRawLayout& l, std::span<const std::uint8_t> b,
                        std::vector<ByteRange> structure, bool linear) {
    if (std::string fault =
            CheckTiffPieces(l.pieces, l.tiled, b, std::move(structure), "raw data's ");
        !fault.empty()) {
        return fault;
    }
    for (std::size_t k = 0; k < l.pieces.size(); ++k) {
        const TiffPiece& p = l.pieces[k];
        const std::uint32_t rows = l.tiled ? l.pieceLength : l.rowsOf(k);
        if (l.compression == 1) {
            const std::uint64_t wanted = rows * l.plainRowBytes(l.pieceWidth);
            if (p.bytes != wanted) {
                return "its raw data's " + pieceName(l, k) + " holds " + std::to_string(p.bytes) +
                       " bytes for " + std::to_string(wanted);
            }
            continue;
        }
        const RawJpegPiece jpeg = ReadRawJpegPiece(b.subspan(p.offset, p.bytes));
        if (!jpeg.fault.empty()) {
            return pieceName(l, k) + ": " + jpeg.fault;
        }
        const bool lossless = l.compression == 7;
        // LibRaw lays a lossless frame's components side by side along a row of a colour filter
        // array, and takes them as the samples of one pixel otherwise.
        const bool sized =
            lossless ? jpeg.frame == 0xC3 && jpeg.precision <= int(l.bitsPerSample) &&
                           (linear ? jpeg.components == int(l.samplesPerPixel) &&
                                         std::uint32_t(jpeg.width) == l.pieceWidth
                                   : std::uint32_t(jpeg.width * jpeg.components) == l.pieceWidth)
                     : jpeg.frame != 0xC3 && jpeg.components == 3 &&
                           std::uint32_t(jpeg.width) == l.pieceWidth;
        if (!sized || std::uint32_t(jpeg.height) != rows) {
            return "its raw data's " + pieceName(l, k) + " is a JPEG of " +
                   std::to_string(jpeg.width) + " x " + std::to_string(jpeg.height) + " of " +
                   std::to_string(jpeg.components) + " components, " +
                   std::to_string(jpeg.precision) + " bits, not the " + pieceName(l, k) + "'s " +
                   std::to_string(l.pieceWidth) + " x " + std::to_string(rows);
        }
    }
    return {};
}

}  // namespace

std::uint32_t DngRawLayout::rowsOf(std::size_t k) const {
    const std::uint64_t top = (tiled ? k / across() : k) * std::uint64_t(pieceLength);
    return top >= height ? 0 : std::uint32_t(std::min<std::uint64_t>(pieceLength, height - top));
}

DngRawLayout ReadDngRawLayout(std::span<const std::uint8_t> b) {
    DngRawLayout l;
    const std::vector<TiffDirectory> directories = directoriesOf(b);
    const auto raw = std::find_if(directories.begin(), directories.end(), isRaw);
    if (raw == directories.end()) {
        return l;
    }
    const TiffDirectory& d = *raw;
    l.found = true;
    l.width = d.value(256).value_or(0);
    l.height = d.value(257).value_or(0);
    l.bitsPerSample = d.value(258).value_or(0);
    // LibRaw counts the samples by BitsPerSample's values when SamplesPerPixel is missing.
    l.samplesPerPixel = d.value(277).value_or(d.count(258));
    l.compression = d.value(259).value_or(1);
    const bool linear = d.value(262).value_or(0) == 34892;
    if (l.compression != 1 && l.compression != 7 && l.compression != 34892) {
        l.unsupported = "DNG sensor data of compression " + std::to_string(l.compression);
        return l;
    }
    if (l.bitsPerSample < 1 || l.bitsPerSample > 16 || l.samplesPerPixel < 1 ||
        l.samplesPerPixel > 4 || (!linear && l.samplesPerPixel != 1) ||
        (l.compression == 34892 && (!linear || l.samplesPerPixel != 3))) {
        l.unsupported = "DNG sensor data of " + std::to_string(l.samplesPerPixel) + " samples of " +
                        std::to_string(l.bitsPerSample) + " bits";
        return l;
    }
    if (l.samplesPerPixel > 1 && d.value(284).value_or(1) != 1) {
        l.unsupported = "DNG sensor data in planes";
        return l;
    }
    l.tiled = d.has(324);
    if (l.tiled) {
        l.pieceWidth = d.value(322).value_or(0);
        l.pieceLength = d.value(323).value_or(0);
    } else {
        l.pieceWidth = l.width;
        l.pieceLength = std::min(d.value(278).value_or(l.height), l.height);
    }
    if (l.pieceWidth == 0 || l.pieceLength == 0) {
        l.fault =
            std::string("its raw data's ") + (l.tiled ? "tiles have" : "strips have") + " no size";
        return l;
    }
    const std::uint64_t wanted =
        std::uint64_t(l.across()) * ((l.height + std::uint64_t(l.pieceLength) - 1) / l.pieceLength);
    const std::uint32_t offsets = d.count(l.tiled ? 324 : 273);
    const std::uint32_t counts = d.count(l.tiled ? 325 : 279);
    if (offsets != wanted || counts != wanted) {
        l.fault = "its raw data lists " + std::to_string(offsets) + " offsets and " +
                  std::to_string(counts) + " sizes of " + (l.tiled ? "tiles" : "strips") +
                  ", its size makes " + std::to_string(wanted);
        return l;
    }
    l.pieces = TiffPiecesOf(d, l.tiled, wanted);
    if (l.pieces.size() != wanted) {
        l.fault = std::string("its raw data's list of ") + (l.tiled ? "tiles" : "strips") +
                  " lies outside the file";
        return l;
    }
    if (l.compression == 1 && l.tiled && (l.pieceWidth * l.samplesPerPixel * l.bitsPerSample) % 8) {
        l.unsupported = "plain DNG tiles whose rows end within a byte";
        return l;
    }
    if (l.compression != 1 && l.pieceWidth > l.width) {
        // LibRaw's decoder starts a tile's next row at the picture's edge.
        l.unsupported = "DNG tiles wider than the picture";
        return l;
    }
    // The header, the directories with their values, and the other directories' pictures.
    std::vector<ByteRange> structure = TiffStructureOf(directories);
    for (const TiffDirectory& other : directories) {
        if (&other != &d) {
            for (const bool tiled : {false, true}) {
                for (const TiffPiece& p : TiffPiecesOf(other, tiled, b.size())) {
                    structure.emplace_back(p.offset, p.offset + p.bytes);
                }
            }
        }
    }
    l.fault = checkPieces(l, b, structure, linear);
    return l;
}
