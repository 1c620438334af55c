#include "engine/formats/ByteReading.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/QtReader.h"

#include <algorithm>
#include <cstdlib>
#include <string>

// Windows icons and cursors, read by Qt: the largest picture of the directory.

namespace {

using namespace bytes;
using Bytes = std::span<const std::uint8_t>;

void probeIco(Bytes b, PictureProbe& p) {
    const std::size_t count = b.size() >= 6 ? le16(b, 4) : 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = 6 + 16 * i;
        if (entry + 16 > b.size()) {
            p.truncation = truncatedAt(entry + 16, b.size());
            return;
        }
        const std::uint64_t end = std::uint64_t(le32(b, entry + 12)) + le32(b, entry + 8);
        if (end > b.size()) {
            p.truncation = truncatedAt(end, b.size());
            return;
        }
        long long w = b[entry] ? b[entry] : 256;
        long long h = b[entry + 1] ? b[entry + 1] : 256;
        // What the entry holds says its size, whatever the directory says.
        const std::size_t image = le32(b, entry + 12);
        if (startsWith(b, "\x89PNG\r\n\x1A\n", 8, image) && image + 24 <= b.size()) {
            // The reader chooses the largest picture by the directory's sizes (0 for 256 or
            // more), and makes the one it chose at its PNG's: the two must agree, or a damaged
            // directory makes another picture the one converted.
            const long long ownWidth = be32(b, image + 16);
            const long long ownHeight = be32(b, image + 20);
            if (std::min(ownWidth, 256LL) != w || std::min(ownHeight, 256LL) != h) {
                p.truncation = "the picture is truncated or corrupt (its directory states " +
                               std::to_string(w) + " x " + std::to_string(h) +
                               " pixels, its PNG picture " + std::to_string(ownWidth) + " x " +
                               std::to_string(ownHeight) + ")";
                return;
            }
            w = ownWidth;
            h = ownHeight;
        } else if (image + 12 <= b.size() && le32(b, image) >= 40) {
            // A bitmap states its size twice, in the directory and its own header (the height
            // doubled for the mask): the reader takes the directory's, and the two must agree.
            const long long ownWidth = std::llabs(static_cast<std::int32_t>(le32(b, image + 4)));
            const long long ownHeight =
                std::llabs(static_cast<std::int32_t>(le32(b, image + 8))) / 2;
            if (ownWidth != w || ownHeight != h) {
                p.truncation = "the picture is truncated or corrupt (its directory states " +
                               std::to_string(w) + " x " + std::to_string(h) +
                               " pixels, its bitmap " + std::to_string(ownWidth) + " x " +
                               std::to_string(ownHeight) + ")";
                return;
            }
        }
        // In 64 unsigned bits: each side may be read as up to 2^32 - 1.
        if (std::uint64_t(w) * std::uint64_t(h) >
            std::uint64_t(p.width) * std::uint64_t(p.height)) {
            p.width = w;
            p.height = h;
        }
    }
}

class Ico final : public QtReadFormat {
  public:
    PictureType type() const override { return PictureType::Ico; }
    const char* name() const override { return "ICO"; }
    bool claims(Bytes head) const override {
        return startsWith(head, "\0\0\1\0", 4) || startsWith(head, "\0\0\2\0", 4);
    }
    void probe(Bytes bytes, PictureProbe& p) const override { probeIco(bytes, p); }

  protected:
    QByteArray readerName() const override { return "ico"; }
};

}  // namespace

const PictureFormat& IcoFormat() {
    static const Ico format;
    return format;
}
