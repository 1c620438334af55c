#include "engine/formats/ByteReading.h"
#include "engine/formats/CaptureData.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/QtReader.h"
#include "engine/formats/TiffDecodedSize.h"
#include "engine/formats/TiffDirectory.h"
#include "engine/formats/TiffPieces.h"

#include <algorithm>
#include <string>
#include <vector>

// TIFF, read by Qt: its strips must be in the file, and a TIFF that is a camera's raw file (a DNG,
// or a Nikon or Sony raw) is the raw module's.

namespace {

using namespace bytes;
using Bytes = std::span<const std::uint8_t>;

// A camera's raw file in a TIFF structure that no maker's signature names: a DNG, or a Nikon or
// Sony raw, whose first directory is a small preview with the sensor data in a sub-directory (a
// plain TIFF from their scanners has none).
bool isTiffRaw(Bytes b) {
    const TiffDirectory directory(b);
    if (directory.has(50706)) {  // DNGVersion
        return true;
    }
    const std::string make = directory.text(271);
    return (make.rfind("NIKON", 0) == 0 || make.rfind("SONY", 0) == 0) &&
           directory.has(330);  // SubIFDs
}

// What the first directory's strips or tiles hold, as far as it states them: each within the
// file, none sharing bytes with another or with the directory, as many as the picture's size
// makes, and each holding its rows and no more (plain ones by their byte counts, compressed ones
// counted as they decompress). Why not, or "".
std::string checkPieces(Bytes b, const TiffDirectory& d) {
    constexpr std::size_t kMostPieces = 1 << 16;
    const bool tiled = d.has(324);
    const std::vector<TiffPiece> pieces = TiffPiecesOf(d, tiled, kMostPieces);
    if (std::string fault = CheckTiffPieces(pieces, tiled, b, TiffStructureOf({d}), "");
        !fault.empty() || !d.has(tiled ? 325 : 279)) {
        return fault;  // without byte counts, the reader finds the strips' ends itself
    }
    const std::uint64_t width = d.value(256).value_or(0), height = d.value(257).value_or(0);
    const std::uint64_t samples = d.value(277).value_or(1), bits = d.value(258).value_or(1);
    const bool planes = samples > 1 && d.value(284).value_or(1) == 2;
    const std::uint64_t pieceWidth = tiled ? d.value(322).value_or(0) : width;
    const std::uint64_t pieceLength =
        tiled ? d.value(323).value_or(0)
              : std::min<std::uint64_t>(d.value(278).value_or(height), height);
    if (width == 0 || height == 0 || pieceWidth == 0 || pieceLength == 0 || bits > 64 ||
        samples > 64) {
        return {};  // the reader refuses it
    }
    const std::uint64_t across = (width + pieceWidth - 1) / pieceWidth;
    const std::uint64_t down = (height + pieceLength - 1) / pieceLength;
    const std::uint64_t wanted = across * down * (planes ? samples : 1);
    if (pieces.size() != wanted || d.count(tiled ? 324 : 273) != wanted) {
        return "its header lists " + std::to_string(d.count(tiled ? 324 : 273)) +
               (tiled ? " tiles" : " strips") + ", its size makes " + std::to_string(wanted);
    }
    const std::uint32_t compression = d.value(259).value_or(1);
    const std::uint64_t rowBytes = (pieceWidth * (planes ? 1 : samples) * bits + 7) / 8;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        // A tile is whole at the picture's edge too; a last strip may hold its rows or a whole
        // strip's.
        const std::uint64_t top = (k % (across * down)) / across * pieceLength;
        const std::uint64_t rows = tiled ? pieceLength : std::min(pieceLength, height - top);
        const std::uint64_t least = rows * rowBytes, most = pieceLength * rowBytes;
        const std::string name = (tiled ? "tile " : "strip ") + std::to_string(k);
        if (compression == 1) {
            if (pieces[k].bytes < least || pieces[k].bytes >= most + rowBytes) {
                return "its " + name + " holds " + std::to_string(pieces[k].bytes) +
                       " bytes for its " + std::to_string(least);
            }
            continue;
        }
        const auto made =
            TiffDecodedSize(b.subspan(pieces[k].offset, pieces[k].bytes), compression, most);
        if (made && *made > most) {
            return "its " + name + " decompresses to more than the " + std::to_string(least) +
                   " bytes of its rows";
        }
    }
    return {};
}

void probeTiff(Bytes b, PictureProbe& p) {
    const TiffDirectory directory(b);
    p.width = directory.value(256).value_or(0);
    p.height = directory.value(257).value_or(0);
    p.orientation = directory.orientation();
    if (directory.value(339).value_or(1) == 3) {
        p.unsupported = "floating-point TIFF";
    }
    if (const std::uint32_t tag = directory.twice(); tag != 0) {
        p.truncation = "the picture is truncated or corrupt (its header states tag " +
                       std::to_string(tag) + " twice)";
        return;
    }
    const std::uint32_t compression = directory.value(259).value_or(1);
    if (compression == 6 || compression == 7) {
        // Decoded by the TIFF library's own JPEG decoder, without the bounds of ours.
        p.refused = "JPEG-compressed TIFF";
        return;
    }
    if (std::string fault = checkPieces(b, directory); !fault.empty()) {
        p.truncation = "the picture is truncated or corrupt (" + fault + ")";
    }
}

class Tiff final : public QtReadFormat {
  public:
    PictureType type() const override { return PictureType::Tiff; }
    const char* name() const override { return "TIFF"; }
    bool claims(Bytes head) const override {
        return startsWith(head, "II*\0", 4) || startsWith(head, "MM\0*", 4);
    }
    void probe(Bytes bytes, PictureProbe& p) const override {
        if (isTiffRaw(bytes)) {
            // A Nikon or Sony TIFF that LibRaw does not take (a scanner's, say) is read as a
            // TIFF; a DNG it cannot read fails as a DNG.
            PictureProbe raw;
            raw.type = PictureType::Raw;
            FormatOf(PictureType::Raw).probe(bytes, raw);
            if (raw.truncation.empty() || TiffDirectory(bytes).has(50706)) {
                p = raw;
                return;
            }
        }
        probeTiff(bytes, p);
    }
    bool statesOrientation() const override { return true; }
    CaptureData captureData(Bytes bytes, int width, int height) const override {
        return CaptureDataOfTiffFile(bytes, width, height);
    }

  protected:
    QByteArray readerName() const override { return "tiff"; }
};

}  // namespace

const PictureFormat& TiffFormat() {
    static const Tiff format;
    return format;
}
