#include "engine/formats/ByteReading.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/QtReader.h"

// WebP, read by Qt: the RIFF size must be in the file.

namespace {

using namespace bytes;
using Bytes = std::span<const std::uint8_t>;

void probeWebp(Bytes b, PictureProbe& p) {
    if (b.size() < 30) {
        p.truncation = truncatedAt(30, b.size());
        return;
    }
    const std::uint64_t stated = std::uint64_t(le32(b, 4)) + 8;
    if (stated > b.size()) {
        p.truncation = truncatedAt(stated, b.size());
        return;
    }
    if (startsWith(b, "VP8X", 4, 12)) {
        p.width = 1 + le24(b, 24);
        p.height = 1 + le24(b, 27);
    } else if (startsWith(b, "VP8L", 4, 12)) {
        const std::uint32_t bits = le32(b, 21);
        p.width = 1 + (bits & 0x3FFF);
        p.height = 1 + (bits >> 14 & 0x3FFF);
    } else if (startsWith(b, "VP8 ", 4, 12)) {
        p.width = le16(b, 26) & 0x3FFF;
        p.height = le16(b, 28) & 0x3FFF;
    }
}

class Webp final : public QtReadFormat {
  public:
    PictureType type() const override { return PictureType::Webp; }
    const char* name() const override { return "WebP"; }
    bool claims(Bytes head) const override {
        return startsWith(head, "RIFF", 4) && startsWith(head, "WEBP", 4, 8);
    }
    void probe(Bytes bytes, PictureProbe& p) const override { probeWebp(bytes, p); }

  protected:
    QByteArray readerName() const override { return "webp"; }
};

}  // namespace

const PictureFormat& WebpFormat() {
    static const Webp format;
    return format;
}
