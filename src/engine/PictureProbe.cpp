#include "engine/PictureProbe.h"

#include "engine/HeifDecoder.h"
#include "engine/JxlDecoder.h"
#include "engine/RawDecoder.h"
#include "filter/BlackWhiteFilter.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::span<const std::uint8_t>;

std::uint32_t be16(Bytes b, std::size_t at) {
    return std::uint32_t(b[at]) << 8 | b[at + 1];
}
std::uint32_t be32(Bytes b, std::size_t at) {
    return be16(b, at) << 16 | be16(b, at + 2);
}
std::uint32_t le16(Bytes b, std::size_t at) {
    return b[at] | std::uint32_t(b[at + 1]) << 8;
}
std::uint32_t le24(Bytes b, std::size_t at) {
    return le16(b, at) | std::uint32_t(b[at + 2]) << 16;
}
std::uint32_t le32(Bytes b, std::size_t at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}

bool startsWith(Bytes b, const char* magic, std::size_t length, std::size_t at = 0) {
    return b.size() >= at + length && std::memcmp(b.data() + at, magic, length) == 0;
}

std::string truncatedAt(std::uint64_t needed, std::uint64_t held) {
    return "the picture is truncated or corrupt (its header states " + std::to_string(needed) +
           " bytes, the file holds " + std::to_string(held) + ")";
}

// The tags of a TIFF structure's first directory (a TIFF file, or the Exif block of a JPEG);
// every offset is checked against the block.
class TiffDirectory {
  public:
    explicit TiffDirectory(Bytes block) : b_(block) {
        if (b_.size() < 8) {
            return;
        }
        if (startsWith(b_, "II*\0", 4)) {
            little_ = true;
        } else if (!startsWith(b_, "MM\0*", 4)) {
            return;
        }
        const std::uint64_t at = u32(4);
        if (at + 2 <= b_.size()) {  // in 64 bits: the offset may be near 4 GB
            first_ = static_cast<std::size_t>(at);
        }
    }

    // The first value of a whole-number tag (SHORT, LONG, or their signed kinds when not
    // negative).
    std::optional<std::uint32_t> value(std::uint16_t tag) const {
        const std::vector<std::uint32_t> all = values(tag, 1);
        return all.empty() ? std::nullopt : std::optional(all.front());
    }

    // Up to `most` values of a whole-number tag, wherever they are kept; none when the tag is
    // missing, of another kind, or its values lie outside the block.
    std::vector<std::uint32_t> values(std::uint16_t tag, std::size_t most) const {
        std::vector<std::uint32_t> found;
        const auto entry = entryOf(tag);
        if (!entry) {
            return found;
        }
        const std::uint32_t type = u16(*entry + 2);
        const std::uint64_t count = u32(*entry + 4);
        const std::size_t size = type == 3 || type == 8 ? 2 : type == 4 || type == 9 ? 4 : 0;
        if (size == 0) {
            return found;
        }
        std::uint64_t at = *entry + 8;
        if (count * size > 4) {
            at = u32(*entry + 8);
            if (at + count * size > b_.size()) {
                return found;
            }
        }
        for (std::uint64_t i = 0; i < count && i < most; ++i) {
            const auto where = static_cast<std::size_t>(at + i * size);
            const std::uint32_t v = size == 2 ? u16(where) : u32(where);
            const bool negative = (type == 8 && v >= 0x8000) || (type == 9 && v >= 0x80000000u);
            if (negative) {
                return {};
            }
            found.push_back(v);
        }
        return found;
    }

    // A tag that the directory lists twice, or 0.
    std::uint32_t twice() const {
        std::vector<std::uint32_t> tags;
        for (std::size_t i = 0; first_ && i < u16(*first_); ++i) {
            const std::size_t entry = *first_ + 2 + 12 * i;
            if (entry + 12 > b_.size()) {
                break;
            }
            tags.push_back(u16(entry));
        }
        std::sort(tags.begin(), tags.end());
        const auto same = std::adjacent_find(tags.begin(), tags.end());
        return same == tags.end() ? 0 : *same;
    }

    bool has(std::uint16_t tag) const { return entryOf(tag).has_value(); }

    // The text of an ASCII tag, up to its first zero; "" when missing or outside the block.
    std::string text(std::uint16_t tag) const {
        const auto entry = entryOf(tag);
        if (!entry || u16(*entry + 2) != 2) {
            return {};
        }
        const std::uint64_t count = u32(*entry + 4);
        const std::uint64_t at = count > 4 ? u32(*entry + 8) : *entry + 8;
        if (at + count > b_.size()) {
            return {};
        }
        std::string found(reinterpret_cast<const char*>(b_.data() + at),
                          static_cast<std::size_t>(count));
        return found.substr(0, found.find('\0'));
    }

    int orientation() const {
        const std::uint32_t v = value(0x0112).value_or(1);
        return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
    }

  private:
    std::optional<std::size_t> entryOf(std::uint16_t tag) const {
        for (std::size_t i = 0; first_ && i < u16(*first_); ++i) {
            const std::size_t entry = *first_ + 2 + 12 * i;
            if (entry + 12 > b_.size()) {
                break;
            }
            if (u16(entry) == tag) {
                return entry;
            }
        }
        return std::nullopt;
    }
    std::uint32_t u16(std::size_t at) const { return little_ ? le16(b_, at) : be16(b_, at); }
    std::uint32_t u32(std::size_t at) const { return little_ ? le32(b_, at) : be32(b_, at); }

    Bytes b_;
    bool little_ = false;
    std::optional<std::size_t> first_;
};

bool isStartOfFrame(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// The samples a JPEG stores for each pixel, from the sampling factors of its `count` components
// listed from `at`: 3 for full colour, 1.5 when the two colour components are halved both ways.
double samplesPerPixel(Bytes b, std::size_t at, int count) {
    if (count <= 0 || at + 3 * std::size_t(count) > b.size()) {
        return count;
    }
    int mostH = 1, mostV = 1;
    for (int c = 0; c < count; ++c) {
        mostH = std::max(mostH, b[at + 3 * c + 1] >> 4);
        mostV = std::max(mostV, b[at + 3 * c + 1] & 15);
    }
    double samples = 0;
    for (int c = 0; c < count; ++c) {
        samples += double(b[at + 3 * c + 1] >> 4) * (b[at + 3 * c + 1] & 15) / (mostH * mostV);
    }
    return samples;
}

// Walks the markers before the picture data as the decoder does, stray bytes skipped.
void probeJpeg(Bytes b, PictureProbe& p) {
    bool exifSeen = false;
    std::size_t at = 2;
    while (at + 4 <= b.size()) {
        if (b[at] != 0xFF || b[at + 1] == 0xFF) {
            ++at;
            continue;
        }
        const std::uint8_t marker = b[at + 1];
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            at += 2;
            continue;
        }
        if (marker == 0xDA) {
            // A scan of fewer components than the frame: the decoder keeps every coefficient
            // until the last scan, as for a progressive file.
            p.multiScan = p.progressive || (at + 4 < b.size() && b[at + 4] < p.components);
            return;
        }
        if (marker == 0xD9) {
            return;
        }
        // A length of 0 or 1 counts as 2 (nothing follows), as the decoder reads it.
        const std::size_t length = std::max<std::size_t>(be16(b, at + 2), 2);
        const std::size_t end = at + 2 + length;
        if (isStartOfFrame(marker) && at + 10 <= b.size() && p.width == 0) {
            p.height = be16(b, at + 5);
            p.width = be16(b, at + 7);
            p.components = b[at + 9];
            p.progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            p.samplesPerPixel = samplesPerPixel(b, at + 10, p.components);
            if (marker == 0xC3 || marker == 0xC7 || marker == 0xCB || marker == 0xCF) {
                p.unsupported = "lossless JPEG";
            } else if (b[at + 4] != 8) {
                p.unsupported = std::to_string(b[at + 4]) + "-bit JPEG";
            } else if (marker == 0xC5 || marker == 0xC6 || marker == 0xCD || marker == 0xCE) {
                p.unsupported = "hierarchical JPEG";
            }
        }
        if (marker == 0xE1 && !exifSeen && length >= 8 && end <= b.size() &&
            startsWith(b, "Exif\0\0", 6, at + 4)) {
            exifSeen = true;
            p.orientation = TiffDirectory(b.subspan(at + 10, length - 8)).orientation();
        }
        at = end;
    }
}

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
            const std::uint64_t stated = std::uint64_t(le16(b, at + 5)) * le16(b, at + 7);
            const std::uint64_t held = lzwPixels(b.subspan(data, *next - data), stated);
            if (held < stated) {
                p.truncation = "the picture is truncated or corrupt (its first frame holds " +
                               std::to_string(held) + " of its " + std::to_string(stated) +
                               " pixels)";
            }
            return;
        } else {
            return;  // the trailer, or damage that the reader itself reports
        }
    }
    p.truncation = "the picture is truncated or corrupt (the file ends within its first frame)";
}

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
            w = be32(b, image + 16);
            h = be32(b, image + 20);
        } else if (image + 12 <= b.size() && le32(b, image) >= 40) {
            w = std::llabs(static_cast<std::int32_t>(le32(b, image + 4)));
            h = std::llabs(static_cast<std::int32_t>(le32(b, image + 8))) / 2;
        }
        // In 64 unsigned bits: each side may be read as up to 2^32 - 1.
        if (std::uint64_t(w) * std::uint64_t(h) >
            std::uint64_t(p.width) * std::uint64_t(p.height)) {
            p.width = w;
            p.height = h;
        }
    }
}

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

// A number written in text from `at`, after blanks (and, in Netpbm headers, comments).
std::optional<std::uint64_t> textNumber(Bytes b, std::size_t& at, bool comments) {
    while (at < b.size() && (std::isspace(b[at]) || (comments && b[at] == '#'))) {
        if (b[at] == '#') {
            while (at < b.size() && b[at] != '\n') {
                ++at;
            }
        } else {
            ++at;
        }
    }
    std::uint64_t n = 0;
    const std::size_t start = at;
    while (at < b.size() && std::isdigit(b[at]) && n < (std::uint64_t(1) << 40)) {
        n = n * 10 + (b[at++] - '0');
    }
    return at > start ? std::optional(n) : std::nullopt;
}

// An X bitmap's text, a line at a time as Qt's reader takes it: up to 299 bytes, through the
// newline; the content stops at a zero byte, as the reader's C strings do.
class XbmLines {
  public:
    explicit XbmLines(Bytes b) : b_(b) {}
    std::optional<std::string_view> next() {
        if (at_ >= b_.size()) {
            return std::nullopt;
        }
        std::size_t end = at_;
        while (end < b_.size() && end - at_ < kLine && b_[end] != '\n') {
            ++end;
        }
        if (end < b_.size() && end - at_ < kLine) {
            ++end;  // the newline
        }
        const std::string_view line(reinterpret_cast<const char*>(b_.data()) + at_, end - at_);
        at_ = end;
        return line;
    }
    static constexpr std::size_t kLine = 299;

  private:
    Bytes b_;
    std::size_t at_ = 0;
};

// The number of a "#define NAME NUMBER" line (its last byte, the newline, dropped) as the reader
// takes it: after "#define", blanks, a name of letters, digits, '_' and '.', blanks, the rest as
// one decimal number between white space; 0 when it is not one.
long long defineNumber(std::string_view line) {
    line = line.substr(0, std::min(line.size() - 1, line.find('\0')));
    if (!line.starts_with("#define")) {
        return 0;
    }
    std::size_t at = 7;
    const auto blank = [&](char c) { return c == ' ' || c == '\t'; };
    while (at < line.size() && blank(line[at])) {
        ++at;
    }
    while (at < line.size() && (std::isalnum(static_cast<unsigned char>(line[at])) ||
                                line[at] == '_' || line[at] == '.')) {
        ++at;
    }
    while (at < line.size() &&
           (blank(line[at]) || std::isspace(static_cast<unsigned char>(line[at])))) {
        ++at;
    }
    std::size_t end = line.size();
    while (end > at && std::isspace(static_cast<unsigned char>(line[end - 1]))) {
        --end;
    }
    const bool negative = at < end && line[at] == '-';
    if (at < end && (line[at] == '+' || line[at] == '-')) {
        ++at;
    }
    long long n = 0;
    if (at == end) {
        return 0;
    }
    for (; at < end; ++at) {
        if (!std::isdigit(static_cast<unsigned char>(line[at])) || n > (1LL << 31)) {
            return 0;
        }
        n = n * 10 + (line[at] - '0');
    }
    return negative ? -n : n;
}

// X bitmaps are C text: "#define NAME_width 16", "#define NAME_height 8", then the bytes as 0x
// hex. As Qt's reader takes it: the first line that begins with '#' (within 4 KB of lines under
// 299 bytes) gives the width and the line after it the height, whatever their names, each from
// 1 to 32767; each "0x" after them is one byte of pixels.
void probeXbm(Bytes b, PictureProbe& p) {
    XbmLines lines(b);
    std::optional<std::string_view> line;
    std::size_t read = 0;
    do {
        line = lines.next();
        if (!line || line->size() >= XbmLines::kLine || (read += line->size()) >= 4096) {
            return;
        }
    } while (line->front() != '#');
    const long long width = defineNumber(*line);
    line = lines.next();
    const long long height = line ? defineNumber(*line) : 0;
    if (width <= 0 || width > 32767 || height <= 0 || height > 32767) {
        return;  // the reader refuses it
    }
    p.width = width;
    p.height = height;
    std::uint64_t held = 0;
    while ((line = lines.next())) {
        const std::string_view text = line->substr(0, line->find('\0'));
        for (std::size_t at = text.find("0x"); at != std::string_view::npos;
             at = text.find("0x", at + 2)) {
            ++held;
        }
    }
    const std::uint64_t stated = (std::uint64_t(p.width) + 7) / 8 * std::uint64_t(p.height);
    if (held < stated) {
        p.truncation = "the picture is truncated or corrupt (it holds " + std::to_string(held) +
                       " of its " + std::to_string(stated) + " bytes)";
    }
}

// P1 to P6: "P6 width height maxval", then the samples (as text for P1 to P3).
void probeNetpbm(Bytes b, PictureProbe& p) {
    const int kind = b[1] - '0';
    std::size_t at = 2;
    const auto w = textNumber(b, at, true);
    const auto h = textNumber(b, at, true);
    if (!w || !h || *w >= (std::uint64_t(1) << 31) || *h >= (std::uint64_t(1) << 31)) {
        return;
    }
    p.width = static_cast<long long>(*w);
    p.height = static_cast<long long>(*h);
    if (kind < 4 || *w > (1u << 16) || *h > (1u << 16)) {
        return;  // text samples, or a size that the limits refuse before any decoding
    }
    std::uint64_t sampleBytes = 1;
    if (kind != 4) {
        const auto most = textNumber(b, at, true);
        sampleBytes = most && *most > 255 ? 2 : 1;
    }
    const std::uint64_t rows = kind == 4   ? (*w + 7) / 8
                               : kind == 5 ? *w * sampleBytes
                                           : *w * 3 * sampleBytes;
    const std::uint64_t needed = at + 1 + rows * *h;
    if (needed > b.size()) {
        p.truncation = truncatedAt(needed, b.size());
    }
}

bool isMetafile(Bytes b) {
    if (startsWith(b, "\xD7\xCD\xC6\x9A", 4)) {
        return true;
    }
    // A plain metafile header: type 1 or 2, header size 9 words, version 0x0100 or 0x0300.
    if (b.size() >= 6 && (b[0] == 1 || b[0] == 2) && b[1] == 0 && b[2] == 9 && b[3] == 0 &&
        b[4] == 0 && (b[5] == 1 || b[5] == 3)) {
        return true;
    }
    return startsWith(b, "\x01\0\0\0", 4) && startsWith(b, " EMF", 4, 40);
}

}  // namespace

PictureType PictureTypeOf(std::span<const std::uint8_t> head) {
    // Every file that begins as a JPEG does goes to the JPEG decoder, whatever follows.
    if (startsWith(head, "\xFF\xD8", 2)) {
        return PictureType::Jpeg;
    }
    if (startsWith(head, "\x89PNG\r\n\x1A\n", 8)) {
        return PictureType::Png;
    }
    if (startsWith(head, "GIF8", 4)) {
        return PictureType::Gif;
    }
    if (startsWith(head, "BM", 2)) {
        return PictureType::Bmp;
    }
    // Camera raw files with a maker's signature, before TIFF: some are TIFF inside.
    if ((startsWith(head, "II*\0", 4) && startsWith(head, "CR\2\0", 4, 8)) ||
        startsWith(head, "FUJIFILMCCD-RAW ", 16) || startsWith(head, "IIU\0", 4) ||
        startsWith(head, "IIRO", 4) || startsWith(head, "IIRS", 4) || startsWith(head, "MMOR", 4) ||
        (startsWith(head, "ftyp", 4, 4) && startsWith(head, "crx ", 4, 8))) {
        return PictureType::Raw;
    }
    if (startsWith(head, "II*\0", 4) || startsWith(head, "MM\0*", 4)) {
        return PictureType::Tiff;
    }
    if (startsWith(head, "ftyp", 4, 4)) {
        for (const char* brand :
             {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "avif", "avis"}) {
            if (startsWith(head, brand, 4, 8)) {
                return PictureType::Heif;
            }
        }
    }
    if (startsWith(head, "\xFF\x0A", 2) || startsWith(head, "\0\0\0\x0CJXL \r\n\x87\n", 12)) {
        return PictureType::Jxl;
    }
    if (startsWith(head, "RIFF", 4) && startsWith(head, "WEBP", 4, 8)) {
        return PictureType::Webp;
    }
    if (startsWith(head, "\0\0\1\0", 4) || startsWith(head, "\0\0\2\0", 4)) {
        return PictureType::Ico;
    }
    if (isMetafile(head)) {
        return PictureType::Metafile;
    }
    if (startsWith(head, "\x8AMNG\r\n\x1A\n", 8) || startsWith(head, "\x8BJNG\r\n\x1A\n", 8)) {
        return PictureType::Mng;
    }
    if (startsWith(head, "#define", 7)) {
        return PictureType::Xbm;
    }
    if (head.size() >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6' &&
        std::isspace(head[2])) {
        return PictureType::Netpbm;
    }
    return PictureType::Unknown;
}

PictureProbe ProbePicture(std::span<const std::uint8_t> bytes) {
    PictureProbe p;
    p.type = PictureTypeOf(bytes);
    if (p.type == PictureType::Tiff && isTiffRaw(bytes)) {
        // A Nikon or Sony TIFF that LibRaw does not take (a scanner's, say) is read as a TIFF;
        // a DNG it cannot read fails as a DNG.
        PictureProbe raw;
        raw.type = PictureType::Raw;
        ProbeRaw(bytes, raw);
        if (raw.truncation.empty() || TiffDirectory(bytes).has(50706)) {
            return raw;
        }
    }
    switch (p.type) {
        case PictureType::Jpeg:
            probeJpeg(bytes, p);
            break;
        case PictureType::Png:
            probePng(bytes, p);
            break;
        case PictureType::Bmp:
            probeBmp(bytes, p);
            break;
        case PictureType::Gif:
            probeGif(bytes, p);
            break;
        case PictureType::Ico:
            probeIco(bytes, p);
            break;
        case PictureType::Tiff:
            probeTiff(bytes, p);
            break;
        case PictureType::Webp:
            probeWebp(bytes, p);
            break;
        case PictureType::Xbm:
            probeXbm(bytes, p);
            break;
        case PictureType::Netpbm:
            probeNetpbm(bytes, p);
            break;
        case PictureType::Heif:
            ProbeHeif(bytes, p);
            break;
        case PictureType::Jxl:
            ProbeJxl(bytes, p);
            break;
        case PictureType::Raw:
            ProbeRaw(bytes, p);
            break;
        case PictureType::Mng:
            // Its JPEG frames are decoded by the reader's own decoder, without our bounds.
            p.refused = "MNG and JNG animations";
            break;
        case PictureType::Unknown:
        case PictureType::Metafile:
            break;
    }
    return p;
}

std::uint64_t PictureProbe::workingBytes() const {
    // A size the header does not state is charged as the largest picture the limits allow.
    const std::uint64_t pixels = width > 0 && height > 0
                                     ? std::uint64_t(width) * std::uint64_t(height)
                                     : std::uint64_t(kFilterMaxWidth) * kFilterMaxHeight;
    // The grey result and the encoded output take about a byte a pixel each at the most.
    std::uint64_t bytes = 2 * pixels;
    if (type == PictureType::Jpeg) {
        // A multi-scan file keeps all its coefficients, 2 bytes each, until the last scan.
        if (progressive || multiScan) {
            bytes += 2 * pixels * std::max(components, 1);
        }
        if (!servesBands()) {
            bytes += 8 * pixels;  // the decoded picture, and its upright copy
        }
        return bytes;
    }
    if (type == PictureType::Png) {
        return bytes + 4 * pixels;  // decoded straight into the layout
    }
    // Measured at their peak (bench/camera's pictures, /usr/bin/time), with some room.
    if (type == PictureType::Heif) {
        // The codec's planes and libheif's RGB planes, then ours; above 8 bits or with alpha,
        // all in 16-bit samples and libheif's interleaved copy too (25 bytes a pixel measured).
        return bytes + (bitsPerSample > 8 || components > 3 ? 28 : 9) * pixels;
    }
    if (type == PictureType::Jxl) {
        return bytes + 12 * pixels;  // the decoder's output (9.5 measured at 16 bits) and ours
    }
    if (type == PictureType::Raw) {
        // The sensor's samples, LibRaw's four 16-bit channels a pixel, its output and ours
        // (16.5 measured).
        return bytes + 19 * pixels;
    }
    // Qt's reader's picture, its conversion and ours.
    return bytes + 12 * pixels;
}

std::uint64_t PictureProbe::costEstimate(std::uint64_t fileBytes) const {
    if (width <= 0 || height <= 0) {
        return fileBytes / 16;  // about a photo's bytes a pixel
    }
    const double pixels = double(width) * double(height);
    double perPixel = 20;  // a whole picture decoded by a general reader, then filtered
    if (type == PictureType::Jpeg) {
        // Measured on one core: a baseline file's filter, colour conversion and encoding take
        // most of its time; a progressive file's decoder passes over every sample again each
        // scan, from coefficients kept in memory.
        perPixel = progressive ? 10.5 + 4.2 * samplesPerPixel : 7.6 + 1.4 * samplesPerPixel;
    } else if (type == PictureType::Png) {
        perPixel = 12;
    } else if (type == PictureType::Heif) {
        perPixel = bitsPerSample > 8 ? 150 : 100;  // measured: 52 to 126, 156 at 10 bits
    } else if (type == PictureType::Jxl) {
        perPixel = 80;  // measured: 54 lossy, 97 lossless
    } else if (type == PictureType::Raw) {
        perPixel = 140;  // demosaicing and the colour pipeline
    }
    return static_cast<std::uint64_t>(pixels * perPixel);
}
