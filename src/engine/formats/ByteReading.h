#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

// Whole numbers read from a file's bytes in either order, for the header readers. The caller
// checks that the bytes are there.
namespace bytes {

using Bytes = std::span<const std::uint8_t>;

inline std::uint32_t be16(Bytes b, std::size_t at) {
    return std::uint32_t(b[at]) << 8 | b[at + 1];
}
inline std::uint32_t be32(Bytes b, std::size_t at) {
    return be16(b, at) << 16 | be16(b, at + 2);
}
inline std::uint32_t le16(Bytes b, std::size_t at) {
    return b[at] | std::uint32_t(b[at + 1]) << 8;
}
inline std::uint32_t le24(Bytes b, std::size_t at) {
    return le16(b, at) | std::uint32_t(b[at + 2]) << 16;
}
inline std::uint32_t le32(Bytes b, std::size_t at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}

// Whether `b` holds the `length` bytes of `magic` at `at`.
inline bool startsWith(Bytes b, const char* magic, std::size_t length, std::size_t at = 0) {
    return b.size() >= at + length && std::memcmp(b.data() + at, magic, length) == 0;
}

// The truncation a header reader reports: the file holds fewer bytes than its header states.
inline std::string truncatedAt(std::uint64_t needed, std::uint64_t held) {
    return "the picture is truncated or corrupt (its header states " + std::to_string(needed) +
           " bytes, the file holds " + std::to_string(held) + ")";
}

}  // namespace bytes
