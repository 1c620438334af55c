#include "engine/formats/ByteReading.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/QtReader.h"

#include <cstdlib>

// Windows bitmaps, read by Qt: the rows or the run-length data the header states must be in the
// file.

namespace {

using namespace bytes;
using Bytes = std::span<const std::uint8_t>;

// Whether a bitmap's run-length data from `at` reaches its end-of-picture code within the file.
// Runs may skip pixels, so the end code is what says that the data is whole.
bool rleEnds(Bytes b, std::size_t at, bool fourBit) {
    while (at + 2 <= b.size()) {
        const std::size_t count = b[at], code = b[at + 1];
        at += 2;
        if (count > 0 || code == 0) {
            continue;  // a run, or the end of a row
        }
        if (code == 1) {
            return true;
        }
        if (code == 2) {
            at += 2;  // a move
        } else {
            const std::size_t bytes = fourBit ? (code + 1) / 2 : code;
            at += (bytes + 1) / 2 * 2;  // literal pixels, padded to a word
        }
    }
    return false;
}

void probeBmp(Bytes b, PictureProbe& p) {
    if (b.size() < 26) {
        p.truncation = truncatedAt(26, b.size());
        return;
    }
    const std::uint32_t header = le32(b, 14);
    std::uint32_t bits = 0;
    std::uint32_t compression = 0;
    if (header == 12) {
        p.width = le16(b, 18);
        p.height = le16(b, 20);
        bits = le16(b, 24);
    } else if (header >= 40 && b.size() >= 34) {
        p.width = std::llabs(static_cast<std::int32_t>(le32(b, 18)));
        p.height = std::llabs(static_cast<std::int32_t>(le32(b, 22)));  // negative: top down
        bits = le16(b, 28);
        compression = le32(b, 30);
    } else {
        return;
    }
    if ((compression == 1 || compression == 2) && !rleEnds(b, le32(b, 10), compression == 2)) {
        p.truncation = "the picture is truncated or corrupt (its run-length data has no end)";
        return;
    }
    // Uncompressed rows (plain, or with bit masks) have a size known from the header.
    const bool uncompressed = compression == 0 || compression == 3 || compression == 6;
    if (!uncompressed || bits == 0 || bits > 32 || p.width > (1 << 24) || p.height > (1 << 24)) {
        return;
    }
    const std::uint64_t rowBytes = (std::uint64_t(p.width) * bits + 31) / 32 * 4;
    const std::uint64_t needed = std::uint64_t(le32(b, 10)) + rowBytes * std::uint64_t(p.height);
    if (needed > b.size()) {
        p.truncation = truncatedAt(needed, b.size());
    }
}

class Bmp final : public QtReadFormat {
  public:
    PictureType type() const override { return PictureType::Bmp; }
    const char* name() const override { return "BMP"; }
    bool claims(Bytes head) const override { return startsWith(head, "BM", 2); }
    void probe(Bytes bytes, PictureProbe& p) const override { probeBmp(bytes, p); }

  protected:
    QByteArray readerName() const override { return "bmp"; }
};

}  // namespace

const PictureFormat& BmpFormat() {
    static const Bmp format;
    return format;
}
