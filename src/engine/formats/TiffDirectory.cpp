#include "engine/formats/TiffDirectory.h"

#include "engine/formats/ByteReading.h"

#include <algorithm>

using namespace bytes;

TiffDirectory::TiffDirectory(std::span<const std::uint8_t> block)
    : TiffDirectory(block, block.size() >= 8
                               ? startsWith(block, "II*\0", 4) ? le32(block, 4) : be32(block, 4)
                               : 0) {}

TiffDirectory::TiffDirectory(std::span<const std::uint8_t> block, std::uint64_t at) : b_(block) {
    if (b_.size() < 8) {
        return;
    }
    if (startsWith(b_, "II*\0", 4)) {
        little_ = true;
    } else if (!startsWith(b_, "MM\0*", 4)) {
        return;
    }
    if (at >= 8 && at + 2 <= b_.size()) {  // in 64 bits: the offset may be near 4 GB
        first_ = static_cast<std::size_t>(at);
    }
}

std::pair<std::uint64_t, std::uint64_t> TiffDirectory::extent() const {
    if (!first_) {
        return {0, 0};
    }
    return {*first_, std::min<std::uint64_t>(*first_ + 2 + 12 * u16(*first_) + 4, b_.size())};
}

std::uint32_t TiffDirectory::next() const {
    if (!first_) {
        return 0;
    }
    const std::uint64_t at = *first_ + 2 + 12 * std::uint64_t(u16(*first_));
    return at + 4 <= b_.size() ? u32(static_cast<std::size_t>(at)) : 0;
}

std::uint32_t TiffDirectory::count(std::uint16_t tag) const {
    const auto entry = entryOf(tag);
    return entry ? u32(*entry + 4) : 0;
}

std::uint64_t TiffDirectory::typeSize(std::uint32_t type) {
    switch (type) {
        case 1:  // BYTE
        case 2:  // ASCII
        case 6:  // SBYTE
        case 7:  // UNDEFINED
            return 1;
        case 3:  // SHORT
        case 8:  // SSHORT
            return 2;
        case 4:   // LONG
        case 9:   // SLONG
        case 11:  // FLOAT
        case 13:  // IFD
            return 4;
        case 5:   // RATIONAL
        case 10:  // SRATIONAL
        case 12:  // DOUBLE
            return 8;
    }
    return 0;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> TiffDirectory::valueExtents() const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> found;
    for (std::size_t i = 0; i < entries(); ++i) {
        const std::size_t entry = *first_ + 2 + 12 * i;
        const std::uint64_t bytes = typeSize(u16(entry + 2)) * u32(entry + 4);
        if (bytes > 4) {
            const std::uint64_t at = u32(entry + 8);
            if (at < b_.size()) {
                found.emplace_back(at, std::min<std::uint64_t>(at + bytes, b_.size()));
            }
        }
    }
    return found;
}

std::size_t TiffDirectory::entries() const {
    if (!first_) {
        return 0;
    }
    // Only the entries that lie in the block.
    return std::min<std::size_t>(u16(*first_), (b_.size() - *first_ - 2) / 12);
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
    const std::size_t size = type == 3 || type == 8                 ? 2
                             : type == 4 || type == 9 || type == 13 ? 4
                                                                    : 0;
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
    for (std::size_t i = 0; i < entries(); ++i) {
        tags.push_back(u16(*first_ + 2 + 12 * i));
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
    for (std::size_t i = 0; i < entries(); ++i) {
        const std::size_t entry = *first_ + 2 + 12 * i;
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
