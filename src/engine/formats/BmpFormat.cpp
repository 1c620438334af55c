#include "engine/formats/ByteReading.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/QtReader.h"

#include <algorithm>
#include <cstdlib>
#include <string>

// Windows bitmaps, read by Qt: the rows or the run-length data the header states must be in the
// file.

namespace {

using namespace bytes;
using Bytes = std::span<const std::uint8_t>;

// What a walk through run-length data found: why it is not whole ("" when it is), and the
// highest colour index it uses.
struct RunLengthWalk {
    std::string fault;
    std::uint32_t mostIndex = 0;
};

// Walks a bitmap's run-length data from `at` as the decoder does, rows from the first stored:
// the end-of-picture code must come within the file (runs may skip pixels, so it is what says
// that the data is whole), and no run may reach past its row or below the last row.
RunLengthWalk walkRunLengths(Bytes b, std::size_t at, bool fourBit, long long width,
                             long long height) {
    RunLengthWalk walk;
    long long x = 0, y = 0;
    // A 4-bit run may round its last byte up to two pixels.
    const long long widest = width + (fourBit ? 1 : 0);
    const auto pixels = [&](long long count) {
        if (y >= height) {
            walk.fault = "its run-length data holds more rows than its header states";
        } else if ((x += count) > widest) {
            walk.fault = "a run of its run-length data goes past the end of its row";
        }
        return walk.fault.empty();
    };
    const auto index = [&](std::uint8_t byte, long long count) {
        const std::uint32_t high = fourBit ? byte >> 4 : byte;
        const std::uint32_t low = fourBit && count > 1 ? byte & 15 : 0;
        walk.mostIndex = std::max({walk.mostIndex, high, low});
    };
    while (at + 2 <= b.size()) {
        const std::size_t count = b[at], code = b[at + 1];
        at += 2;
        if (count > 0) {
            index(std::uint8_t(code), count);
            if (!pixels(count)) {
                return walk;
            }
        } else if (code == 0) {
            x = 0;  // the end of a row
            ++y;
        } else if (code == 1) {
            return walk;
        } else if (code == 2) {
            if (at + 2 > b.size()) {
                break;
            }
            x += b[at];  // a move
            y += b[at + 1];
            at += 2;
            if (x > widest) {
                walk.fault = "a move in its run-length data goes past the end of its row";
                return walk;
            }
        } else {
            const std::size_t bytes = fourBit ? (code + 1) / 2 : code;
            for (std::size_t k = 0; k < bytes && at + k < b.size(); ++k) {
                index(b[at + k], fourBit && k + 1 == bytes && code % 2 ? 1 : 2);
            }
            if (!pixels(static_cast<long long>(code))) {
                return walk;
            }
            at += (bytes + 1) / 2 * 2;  // literal pixels, padded to a word
        }
    }
    walk.fault = "its run-length data has no end";
    return walk;
}

// The highest colour index that the rows of a palette bitmap use (1, 4 or 8 bits a pixel).
std::uint32_t mostIndexOfRows(Bytes b, std::size_t at, std::uint32_t bits, long long width,
                              long long height, std::uint64_t rowBytes) {
    std::uint32_t most = 0;
    const std::uint32_t mask = (1u << bits) - 1;
    for (long long y = 0; y < height; ++y) {
        const std::uint8_t* row = b.data() + at + std::size_t(y) * rowBytes;
        for (long long x = 0; x < width; ++x) {
            const std::uint64_t bit = std::uint64_t(x) * bits;
            const std::uint32_t v = row[bit / 8] >> (8 - bits - bit % 8) & mask;
            most = std::max(most, v);
        }
    }
    return most;
}

std::string corrupt(const std::string& why) {
    return "the picture is truncated or corrupt (" + why + ")";
}

void probeBmp(Bytes b, PictureProbe& p) {
    if (b.size() < 26) {
        p.truncation = truncatedAt(26, b.size());
        return;
    }
    const std::uint32_t header = le32(b, 14);
    std::uint32_t bits = 0;
    std::uint32_t compression = 0;
    std::uint64_t colours = 0;  // entries in the colour table
    if (header == 12) {
        p.width = le16(b, 18);
        p.height = le16(b, 20);
        bits = le16(b, 24);
    } else if (header >= 40 && b.size() >= 54) {
        p.width = std::llabs(static_cast<std::int32_t>(le32(b, 18)));
        p.height = std::llabs(static_cast<std::int32_t>(le32(b, 22)));  // negative: top down
        bits = le16(b, 28);
        compression = le32(b, 30);
        colours = le32(b, 46);
    } else {
        return;
    }
    if (bits == 0 || bits > 32 || p.width > (1 << 24) || p.height > (1 << 24)) {
        return;  // the reader refuses it
    }
    if (bits <= 8 && colours == 0) {
        colours = std::uint64_t(1) << bits;
    }
    // The pixels come after the headers and the colour table (and the masks that follow a
    // 40-byte header): an offset within them would read the table as pixels.
    const std::uint64_t offset = le32(b, 10);
    const std::uint64_t masks = header == 40 ? (compression == 3   ? 12
                                                : compression == 6 ? 16
                                                                   : 0)
                                             : 0;
    const std::uint64_t tableEnd =
        14 + std::uint64_t(header) + masks + colours * (header == 12 ? 3 : 4);
    if (offset < tableEnd) {
        p.truncation = corrupt("its pixels begin at byte " + std::to_string(offset) +
                               ", inside its header and colour table, which end at byte " +
                               std::to_string(tableEnd));
        return;
    }
    std::uint32_t mostIndex = 0;
    if (compression == 1 || compression == 2) {
        const RunLengthWalk walk = walkRunLengths(b, offset, compression == 2, p.width, p.height);
        if (!walk.fault.empty()) {
            p.truncation = corrupt(walk.fault);
            return;
        }
        mostIndex = walk.mostIndex;
    }
    // Uncompressed rows (plain, or with bit masks) have a size known from the header.
    const bool uncompressed = compression == 0 || compression == 3 || compression == 6;
    if (uncompressed) {
        const std::uint64_t rowBytes = (std::uint64_t(p.width) * bits + 31) / 32 * 4;
        const std::uint64_t needed = offset + rowBytes * std::uint64_t(p.height);
        if (needed > b.size()) {
            p.truncation = truncatedAt(needed, b.size());
            return;
        }
        // A file that states its own size and holds a row or more beyond the rows its header
        // states (and beyond a colour profile stored after them) does not fit its header.
        std::uint64_t accounted = needed;
        if (header >= 124) {
            accounted = std::max<std::uint64_t>(
                accounted, 14 + std::uint64_t(le32(b, 14 + 112)) + le32(b, 14 + 116));
        }
        if (le32(b, 2) == b.size() && b.size() >= accounted + rowBytes) {
            p.truncation = corrupt("it holds " + std::to_string(b.size() - needed) +
                                   " bytes more than the rows its header states");
            return;
        }
        if (bits == 1 || bits == 4 || bits == 8) {
            mostIndex = mostIndexOfRows(b, offset, bits, p.width, p.height, rowBytes);
        }
    }
    if (bits <= 8 && mostIndex >= colours) {
        p.truncation = corrupt("a pixel names colour " + std::to_string(mostIndex) +
                               " of a table of " + std::to_string(colours));
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
