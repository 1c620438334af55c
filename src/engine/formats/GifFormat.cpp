#include "engine/formats/ByteReading.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/QtReader.h"

#include <algorithm>
#include <optional>

// GIF, read by Qt: its first frame is the picture, and the file must hold all of it.

namespace {

using namespace bytes;
using Bytes = std::span<const std::uint8_t>;

// Skips a run of GIF sub-blocks; the position after its terminator, or nothing when the file ends
// first.
std::optional<std::size_t> skipSubBlocks(Bytes b, std::size_t at) {
    while (at < b.size()) {
        if (b[at] == 0) {
            return at + 1;
        }
        at += 1 + std::size_t{b[at]};
    }
    return std::nullopt;
}

// The pixels that a frame's LZW data (its code size, then its sub-blocks) makes, counted
// without making them, up to `most`; what the codes made before one that no decoder takes.
std::uint64_t lzwPixels(Bytes b, std::uint64_t most) {
    if (b.empty() || b[0] < 1 || b[0] > 11) {
        return 0;
    }
    const unsigned first = b[0], clear = 1u << first, end = clear + 1;
    std::uint16_t length[4096];
    std::fill(length, length + clear, 1);
    unsigned next = clear + 2, size = first + 1;
    int previous = -1;
    std::uint64_t pixels = 0;
    std::uint32_t bits = 0;
    unsigned held = 0;
    for (std::size_t at = 1; at < b.size() && b[at] != 0;) {
        const std::size_t block = b[at++];
        for (std::size_t i = 0; i < block && at < b.size(); ++i) {
            bits |= std::uint32_t(b[at++]) << held;
            held += 8;
            while (held >= size) {
                const unsigned code = bits & ((1u << size) - 1);
                bits >>= size;
                held -= size;
                if (code == clear) {
                    next = clear + 2;
                    size = first + 1;
                    previous = -1;
                    continue;
                }
                if (code == end) {
                    return pixels;
                }
                unsigned made;
                if (code < clear) {
                    made = 1;
                } else if (previous >= 0 && code < next) {
                    made = length[code];
                } else if (previous >= 0 && code == next && next < 4096) {
                    made = length[previous] + 1u;
                } else {
                    return pixels;
                }
                if (previous >= 0 && next < 4096) {
                    length[next] = static_cast<std::uint16_t>(length[previous] + 1);
                    if (++next == (1u << size) && size < 12) {
                        ++size;
                    }
                }
                previous = static_cast<int>(code);
                pixels += made;
                if (pixels >= most) {
                    return pixels;
                }
            }
        }
    }
    return pixels;
}

// The first frame is the picture: the file must hold all of it.
void probeGif(Bytes b, PictureProbe& p) {
    if (b.size() < 13) {
        p.truncation = truncatedAt(13, b.size());
        return;
    }
    p.width = le16(b, 6);
    p.height = le16(b, 8);
    const auto colourTable = [](std::uint8_t flags) {
        return flags & 0x80 ? std::size_t{3} << ((flags & 7) + 1) : 0;
    };
    std::size_t at = 13 + colourTable(b[10]);
    while (at < b.size()) {
        if (b[at] == 0x21) {  // an extension: a label, then sub-blocks
            // A graphic control or application extension's first block has a fixed size; one
            // stated longer swallows what follows it, a frame's descriptor among it, and the
            // reader takes a later frame for the first.
            const std::size_t fixed = at + 2 >= b.size()  ? 0
                                      : b[at + 1] == 0xF9 ? 4
                                      : b[at + 1] == 0xFF ? 11
                                                          : 0;
            if (fixed > 0 && b[at + 2] != fixed) {
                p.truncation =
                    "the picture is truncated or corrupt (an extension states a block of " +
                    std::to_string(b[at + 2]) + " bytes, not " + std::to_string(fixed) + ")";
                return;
            }
            const auto next = skipSubBlocks(b, at + 2);
            if (!next) {
                break;
            }
            at = *next;
        } else if (b[at] == 0x2C) {  // the first frame
            if (at + 10 > b.size()) {
                break;
            }
            // The decoder makes a picture of the screen's size, the frame clipped to it; where
            // the screen has no width (or height), one that reaches the frame's far side.
            if (p.width == 0) {
                p.width = le16(b, at + 1) + le16(b, at + 5);
            }
            if (p.height == 0) {
                p.height = le16(b, at + 3) + le16(b, at + 7);
            }
            const std::size_t data = at + 10 + colourTable(b[at + 9]);
            const auto next = skipSubBlocks(b, data + 1);
            if (!next) {
                break;
            }
            // A frame reaching past a screen that has a size would be cut by it.
            const long long screenWidth = le16(b, 6), screenHeight = le16(b, 8);
            if ((screenWidth > 0 && le16(b, at + 1) + le16(b, at + 5) > screenWidth) ||
                (screenHeight > 0 && le16(b, at + 3) + le16(b, at + 7) > screenHeight)) {
                p.truncation =
                    "the picture is truncated or corrupt (its first frame reaches past its "
                    "screen of " +
                    std::to_string(screenWidth) + " x " + std::to_string(screenHeight) + ")";
                return;
            }
            const std::uint64_t stated = std::uint64_t(le16(b, at + 5)) * le16(b, at + 7);
            const std::uint64_t held = lzwPixels(b.subspan(data, *next - data), stated + 1);
            if (held != stated) {
                p.truncation =
                    "the picture is truncated or corrupt (its first frame's data makes " +
                    std::string(held > stated ? "more than" : std::to_string(held) + " of") +
                    " its " + std::to_string(stated) + " pixels)";
            }
            return;
        } else {
            return;  // the trailer, or damage that the reader itself reports
        }
    }
    p.truncation = "the picture is truncated or corrupt (the file ends within its first frame)";
}

class Gif final : public QtReadFormat {
  public:
    PictureType type() const override { return PictureType::Gif; }
    const char* name() const override { return "GIF"; }
    bool claims(Bytes head) const override { return startsWith(head, "GIF8", 4); }
    void probe(Bytes bytes, PictureProbe& p) const override { probeGif(bytes, p); }

  protected:
    QByteArray readerName() const override { return "gif"; }
};

}  // namespace

const PictureFormat& GifFormat() {
    static const Gif format;
    return format;
}
