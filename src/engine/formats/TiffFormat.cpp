#include "engine/formats/ByteReading.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/QtReader.h"
#include "engine/formats/TiffDirectory.h"

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
    // Every strip the header states lies within the file (a strip's bytes are counted when
    // the header gives them).
    constexpr std::size_t kMostStrips = 1 << 16;
    const auto offsets = directory.values(273, kMostStrips);
    const auto counts = directory.values(279, kMostStrips);
    for (std::size_t i = 0; i < offsets.size() && i < counts.size(); ++i) {
        const std::uint64_t end = std::uint64_t(offsets[i]) + counts[i];
        if (end > b.size()) {
            p.truncation = truncatedAt(end, b.size());
            return;
        }
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

  protected:
    QByteArray readerName() const override { return "tiff"; }
};

}  // namespace

const PictureFormat& TiffFormat() {
    static const Tiff format;
    return format;
}
