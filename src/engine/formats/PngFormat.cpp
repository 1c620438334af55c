#include "engine/formats/ByteReading.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/PngCaptureData.h"
#include "engine/formats/PngDecoder.h"

// PNG through libpng (PngDecoder): its chunks' lengths checked against the file here.

namespace {

using namespace bytes;
using Bytes = std::span<const std::uint8_t>;

void probePng(Bytes b, PictureProbe& p) {
    // The header chunk comes first; a reader that takes chunks before it finds it further on.
    // In 64 bits: a length near 4 GB must not wrap round to the same chunk.
    for (std::size_t at = 8; at + 20 <= b.size() && at < 4096;
         at += 12 + static_cast<std::size_t>(be32(b, at))) {
        if (startsWith(b, "IHDR", 4, at + 4)) {
            p.width = be32(b, at + 8);
            p.height = be32(b, at + 12);
            break;
        }
    }
    if (p.width == 0) {
        return;
    }
    // A chunk that claims more than the file holds makes the file truncated: refused here, before
    // any reader allocates for the claim.
    std::size_t at = 8;
    while (at + 8 <= b.size()) {
        const std::uint64_t length = be32(b, at);
        if (at + 12 + length > b.size()) {
            p.truncation = truncatedAt(at + 12 + length, b.size());
            return;
        }
        if (startsWith(b, "IEND", 4, at + 4)) {
            return;
        }
        at += static_cast<std::size_t>(12 + length);
    }
    if (at != b.size()) {
        p.truncation = truncatedAt(at + 8, b.size());
    }
}

class Png final : public PictureFormat {
  public:
    PictureType type() const override { return PictureType::Png; }
    const char* name() const override { return "PNG"; }
    bool claims(Bytes head) const override { return startsWith(head, "\x89PNG\r\n\x1A\n", 8); }
    void probe(Bytes bytes, PictureProbe& p) const override { probePng(bytes, p); }
    std::uint64_t workingBytes(const PictureProbe& p) const override {
        // The grey result and the output, and the picture decoded straight into the layout.
        return (2 + 4) * ChargedPixels(p);
    }
    double nanosPerPixel(const PictureProbe&) const override { return 12; }
    BgrxImage decode(Bytes bytes, const PictureProbe&, const QString& path) const override {
        return DecodePng(bytes, path);
    }
    CaptureData captureData(Bytes bytes, int width, int height) const override {
        return PngCaptureData(bytes, width, height);
    }
};

}  // namespace

const PictureFormat& PngFormat() {
    static const Png format;
    return format;
}
