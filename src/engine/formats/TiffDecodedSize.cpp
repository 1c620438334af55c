#include "engine/formats/TiffDecodedSize.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using Bytes = std::span<const std::uint8_t>;

std::optional<std::uint64_t> packBits(Bytes b, std::uint64_t most) {
    std::uint64_t out = 0;
    for (std::size_t at = 0; at < b.size() && out <= most;) {
        const auto n = static_cast<std::int8_t>(b[at++]);
        if (n >= 0) {  // n + 1 bytes as they are
            out += std::uint64_t(n) + 1;
            at += std::size_t(n) + 1;
        } else if (n != -128) {  // the next byte 1 - n times
            out += std::uint64_t(1 - n);
            ++at;
        }
    }
    return out;
}

// Codes of 9 to 12 bits, most significant bit first; the width grows a code before the table
// reaches it (as every TIFF writer and libtiff's reader have it).
std::optional<std::uint64_t> lzw(Bytes b, std::uint64_t most) {
    if (b.size() >= 2 && b[0] == 0 && (b[1] & 1) != 0) {
        return std::nullopt;  // the old kind, least significant bit first
    }
    constexpr unsigned kClear = 256, kEnd = 257, kFirst = 258;
    std::vector<std::uint16_t> length(4096, 1);
    unsigned next = kFirst, width = 9;
    int previous = -1;
    std::uint64_t out = 0, bits = 0;
    unsigned held = 0;
    for (std::size_t at = 0; out <= most;) {
        while (held < width && at < b.size()) {
            bits = bits << 8 | b[at++];
            held += 8;
        }
        if (held < width) {
            break;  // the data ends without its end code: libtiff takes what it has
        }
        const unsigned code = static_cast<unsigned>(bits >> (held - width)) & ((1u << width) - 1);
        held -= width;
        if (code == kEnd) {
            break;
        }
        if (code == kClear) {
            next = kFirst;
            width = 9;
            previous = -1;
            continue;
        }
        if (previous < 0) {
            if (code >= kClear) {
                return std::nullopt;
            }
            out += 1;
            previous = static_cast<int>(code);
            continue;
        }
        std::uint64_t made = 0;
        if (code < next) {
            made = length[code];
        } else if (code == next) {
            made = length[std::size_t(previous)] + 1u;
        } else {
            return std::nullopt;  // a code the table does not hold yet
        }
        if (next < 4096) {
            length[next] = static_cast<std::uint16_t>(
                std::min<unsigned>(length[std::size_t(previous)], 4094) + 1);
            ++next;
            if (next >= (1u << width) - 1 && width < 12) {
                ++width;
            }
        }
        out += made;
        previous = static_cast<int>(code);
    }
    return out;
}

std::optional<std::uint64_t> deflate(Bytes b, std::uint64_t most) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> scratch(64 * 1024);
    z.next_in = const_cast<Bytef*>(b.data());  // zlib's interface is older than const
    z.avail_in = static_cast<uInt>(b.size());
    std::uint64_t out = 0;
    int status = Z_OK;
    while (status == Z_OK && out <= most) {
        z.next_out = scratch.data();
        z.avail_out = static_cast<uInt>(scratch.size());
        status = inflate(&z, Z_NO_FLUSH);
        out += scratch.size() - z.avail_out;
        if (status == Z_BUF_ERROR && z.avail_in == 0) {
            break;  // the data ends early: libtiff takes what it has
        }
    }
    inflateEnd(&z);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
        return std::nullopt;
    }
    return out;
}

}  // namespace

std::optional<std::uint64_t> TiffDecodedSize(std::span<const std::uint8_t> data,
                                             std::uint32_t compression, std::uint64_t most) {
    switch (compression) {
        case 32773:
            return packBits(data, most);
        case 5:
            return lzw(data, most);
        case 8:
        case 32946:
            return deflate(data, most);
        default:
            return std::nullopt;
    }
}
