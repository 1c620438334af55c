#include "engine/formats/RawJpegPiece.h"

#include "engine/formats/ByteReading.h"

#include <array>
#include <cstring>

using namespace bytes;

namespace {

// A header may carry a few application segments; more is not a camera's.
constexpr int kMostSegments = 64;

// Reads the Huffman tables of one DHT segment into `defined` (by LibRaw's number: class × 16 +
// id); an empty reason when they are sound.
std::string readTables(std::span<const std::uint8_t> body, std::array<bool, 20>& defined) {
    std::size_t at = 0;
    while (at < body.size()) {
        const unsigned number = body[at];
        if ((number >> 4) > 1 || (number & 15) > 3) {
            return "a Huffman table numbered " + std::to_string(number);
        }
        if (defined[number]) {
            return "a Huffman table defined twice";
        }
        defined[number] = true;
        if (at + 17 > body.size()) {
            return "a Huffman table cut short";
        }
        std::size_t codes = 0;
        for (int length = 1; length <= 16; ++length) {
            codes += body[at + length];
        }
        if (codes == 0 || codes > 256 || at + 17 + codes > body.size()) {
            return "a Huffman table of " + std::to_string(codes) + " codes";
        }
        at += 17 + codes;
    }
    return {};
}

}  // namespace

RawJpegPiece ReadRawJpegPiece(std::span<const std::uint8_t> b) {
    RawJpegPiece p;
    const auto fail = [&](std::string why) {
        p.fault = "its JPEG data has " + why;
        return p;
    };
    if (!startsWith(b, "\xFF\xD8", 2)) {
        return fail("no start marker");
    }
    std::array<bool, 20> tables{};
    std::size_t at = 2;
    for (int segments = 0;; ++segments) {
        if (segments > kMostSegments) {
            return fail("more than " + std::to_string(kMostSegments) + " segments");
        }
        if (at + 4 > b.size() || b[at] != 0xFF) {
            return fail("no scan");
        }
        const int marker = b[at + 1];
        const std::size_t length = be16(b, at + 2);
        if (length < 2 || at + 2 + length > b.size()) {
            return fail("a segment longer than its piece");
        }
        const auto body = b.subspan(at + 4, length - 2);
        at += 2 + length;
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC3) {
            if (p.frame != 0) {
                return fail("two frames");
            }
            if (body.size() < 6 || body.size() != 6 + 3 * std::size_t(body[5])) {
                return fail("a frame header of the wrong length");
            }
            p.frame = marker;
            p.precision = body[0];
            p.height = int(be16(body, 1));
            p.width = int(be16(body, 3));
            p.components = body[5];
            for (int c = 0; c < p.components; ++c) {
                // LibRaw's lossless decoder takes other sampling for a camera's own colour kind.
                if (marker == 0xC3 && body[6 + 3 * c + 1] != 0x11) {
                    return fail("components of different sizes");
                }
            }
            if (p.components < 1 || p.components > 4 || p.width == 0 || p.height == 0 ||
                p.precision < 2 || p.precision > 16) {
                return fail("a frame of " + std::to_string(p.components) + " components of " +
                            std::to_string(p.width) + " x " + std::to_string(p.height) + ", " +
                            std::to_string(p.precision) + " bits");
            }
        } else if (marker == 0xC4) {
            if (const std::string why = readTables(body, tables); !why.empty()) {
                return fail(why);
            }
        } else if (marker == 0xDA) {
            if (p.frame == 0) {
                return fail("a scan before its frame");
            }
            if (body.empty() || body.size() != 4 + 2 * std::size_t(body[0])) {
                return fail("a scan header of the wrong length");
            }
            if (p.frame == 0xC3) {
                // LibRaw decodes every component in one scan, component c with table c or, when
                // that is not defined, the one below it.
                if (body[0] != p.components || !tables[0]) {
                    return fail("a scan that is not of every component");
                }
                int table = 0;
                for (int c = 0; c < p.components; ++c) {
                    table = tables[c] ? c : table;
                    if ((body[1 + 2 * c + 1] >> 4) != table) {
                        return fail("a scan that takes other Huffman tables");
                    }
                }
                const int predictor = body[1 + 2 * p.components];
                const int transform = body[3 + 2 * p.components] & 15;
                if (predictor < 1 || predictor > 7 || transform >= p.precision) {
                    return fail("a scan of predictor " + std::to_string(predictor));
                }
            }
            p.dataStart = at;
            break;
        } else if (marker != 0xDB && marker != 0xDD && marker != 0xFE &&
                   (marker < 0xE0 || marker > 0xEF)) {
            return fail("a marker " + std::to_string(marker) + " that is not read");
        }
    }
    // The end marker, then nothing but padding.
    std::size_t end = b.size();
    while (end > p.dataStart && b[end - 1] == 0) {
        --end;
    }
    if (end < p.dataStart + 2 || b[end - 2] != 0xFF || b[end - 1] != 0xD9) {
        return fail("no end marker at the end of its piece");
    }
    p.dataEnd = end - 2;
    // Scans are counted by their markers, which coded data cannot hold.
    p.scans = 1;
    const std::uint8_t* from = b.data() + p.dataStart;
    const std::uint8_t* const last = b.data() + p.dataEnd - 1;  // a marker's first byte, at most
    while (from < last) {
        const auto* mark = static_cast<const std::uint8_t*>(std::memchr(from, 0xFF, last - from));
        if (mark == nullptr) {
            break;
        }
        p.scans += mark[1] == 0xDA;
        from = mark + 1;
    }
    if (p.frame == 0xC3) {
        // Every sample takes at least one bit of a Huffman code.
        const std::uint64_t samples = std::uint64_t(p.width) * p.height * p.components;
        if (p.scans != 1 || (p.dataEnd - p.dataStart) * 8 < samples) {
            return fail(std::to_string(p.dataEnd - p.dataStart) + " bytes for " +
                        std::to_string(samples) + " samples");
        }
    } else if (p.scans > p.components) {
        return fail(std::to_string(p.scans) + " scans");
    }
    return p;
}
