#include "engine/formats/TiffDirectory.h"

#include "engine/formats/ByteReading.h"

#include <algorithm>

using namespace bytes;

TiffDirectory::TiffDirectory(std::span<const std::uint8_t> block) : b_(block) {
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

std::optional<std::uint32_t> TiffDirectory::value(std::uint16_t tag) const {
    const std::vector<std::uint32_t> all = values(tag, 1);
    return all.empty() ? std::nullopt : std::optional(all.front());
}

std::vector<std::uint32_t> TiffDirectory::values(std::uint16_t tag, std::size_t most) const {
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

std::uint32_t TiffDirectory::twice() const {
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

std::string TiffDirectory::text(std::uint16_t tag) const {
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

bool TiffDirectory::whole() const {
    return first_ && *first_ + 2 + 12 * std::uint64_t(u16(*first_)) <= b_.size();
}

int TiffDirectory::orientation() const {
    const std::uint32_t v = value(0x0112).value_or(1);
    return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
}

std::optional<std::size_t> TiffDirectory::entryOf(std::uint16_t tag) const {
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

std::uint32_t TiffDirectory::u16(std::size_t at) const {
    return little_ ? le16(b_, at) : be16(b_, at);
}

std::uint32_t TiffDirectory::u32(std::size_t at) const {
    return little_ ? le32(b_, at) : be32(b_, at);
}
