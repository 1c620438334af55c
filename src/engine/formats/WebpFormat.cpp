#include "engine/formats/ByteReading.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/QtReader.h"

#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

// WebP, read by Qt: the RIFF size must be in the file.

namespace {

using namespace bytes;
using Bytes = std::span<const std::uint8_t>;

// The size a lossless or lossy bitstream's own header states, from its chunk at `at`; nothing
// when the chunk is neither or too short.
std::optional<std::pair<long long, long long>> frameSize(Bytes b, std::size_t at) {
    if (startsWith(b, "VP8L", 4, at) && at + 13 <= b.size()) {
        const std::uint32_t bits = le32(b, at + 9);
        return std::pair{1 + (bits & 0x3FFF), 1 + (bits >> 14 & 0x3FFF)};
    }
    if (startsWith(b, "VP8 ", 4, at) && at + 18 <= b.size()) {
        return std::pair{le16(b, at + 14) & 0x3FFF, le16(b, at + 16) & 0x3FFF};
    }
    return std::nullopt;
}

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
    if (const auto frame = frameSize(b, 12)) {
        std::tie(p.width, p.height) = *frame;
        return;
    }
    if (!startsWith(b, "VP8X", 4, 12)) {
        return;
    }
    p.width = 1 + le24(b, 24);
    p.height = 1 + le24(b, 27);
    if (b[20] & 0x02) {
        return;  // an animation: its frames may be smaller than the canvas
    }
    // A still picture's bitstream states the canvas's size again: the two must agree.
    for (std::uint64_t at = 30; at + 8 <= stated;) {
        if (const auto frame = frameSize(b, at)) {
            if (frame->first != p.width || frame->second != p.height) {
                p.truncation = "the picture is truncated or corrupt (its canvas is " +
                               std::to_string(p.width) + " x " + std::to_string(p.height) +
                               " pixels, its picture " + std::to_string(frame->first) + " x " +
                               std::to_string(frame->second) + ")";
            }
            return;
        }
        const std::uint64_t size = le32(b, at + 4);
        at += 8 + size + (size & 1);
    }
}

// The EXIF and XMP chunks of a WebP file; an EXIF chunk may begin with the name a JPEG gives it.
CaptureData webpCaptureData(Bytes b, int width, int height) {
    Bytes exif;
    std::string_view xmp;
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::uint64_t size = le32(b, at + 4);
        if (size > b.size() - at - 8) {
            break;
        }
        const Bytes data = b.subspan(at + 8, size);
        if (startsWith(b, "EXIF", 4, at) && exif.empty()) {
            exif = startsWith(data, "Exif\0\0", 6) ? data.subspan(6) : data;
        } else if (startsWith(b, "XMP ", 4, at) && xmp.empty()) {
            xmp = {reinterpret_cast<const char*>(data.data()), data.size()};
        }
        at += 8 + size + (size & 1);
    }
    return CaptureDataOf(exif, xmp, width, height);
}

class Webp final : public QtReadFormat {
  public:
    PictureType type() const override { return PictureType::Webp; }
    const char* name() const override { return "WebP"; }
    bool claims(Bytes head) const override {
        return startsWith(head, "RIFF", 4) && startsWith(head, "WEBP", 4, 8);
    }
    void probe(Bytes bytes, PictureProbe& p) const override { probeWebp(bytes, p); }
    CaptureData captureData(Bytes bytes, int width, int height) const override {
        return webpCaptureData(bytes, width, height);
    }

  protected:
    QByteArray readerName() const override { return "webp"; }
};

}  // namespace

const PictureFormat& WebpFormat() {
    static const Webp format;
    return format;
}
