#include "engine/formats/ExifIfd.h"

std::uint32_t ExifBytes::u16(std::uint64_t at) const {
    return little_ ? b_[at] | std::uint32_t(b_[at + 1]) << 8
                   : std::uint32_t(b_[at]) << 8 | b_[at + 1];
}

std::uint32_t ExifBytes::u32(std::uint64_t at) const {
    return little_ ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
}

std::uint64_t ExifBytes::typeSize(std::uint32_t type) {
    static constexpr std::uint8_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < std::size(kSizes) ? kSizes[type] : 0;
}

std::optional<ExifBytes::Directory> ExifBytes::directory(std::uint64_t at,
                                                         std::uint64_t base) const {
    const std::uint64_t size = b_.size();
    if (at < 8 || at + 2 > size) {
        return std::nullopt;
    }
    Directory d;
    d.at = at;
    const std::uint64_t count = u16(at);
    d.end = at + 2 + 12 * count;
    if (d.end > size || !spend(1 + count)) {
        return std::nullopt;
    }
    if (d.end + 4 <= size) {
        d.next = u32(d.end);
        d.end += 4;
    }
    d.entries.reserve(count);
    for (std::uint64_t e = at + 2; e + 12 <= at + 2 + 12 * count; e += 12) {
        ExifEntry entry;
        entry.tag = std::uint16_t(u16(e));
        entry.type = std::uint16_t(u16(e + 2));
        entry.count = u32(e + 4);
        entry.at = e;
        entry.bytes = typeSize(entry.type) * entry.count;
        if (typeSize(entry.type) == 0) {
            continue;
        }
        entry.value = entry.outside() ? base + u32(e + 8) : e + 8;
        if (entry.value + entry.bytes > size) {
            continue;
        }
        d.entries.push_back(entry);
    }
    return d;
}

std::uint32_t ExifBytes::number(const ExifEntry& entry) const {
    if (entry.count == 0) {
        return 0;
    }
    switch (entry.type) {
        case 1:
        case 7:
            return b_[entry.value];
        case 3:
            return u16(entry.value);
        default:
            return u32(entry.value);
    }
}

bool ExifBytes::spend(std::uint64_t units) const {
    if (units > *left_) {
        return false;
    }
    *left_ -= units;
    return true;
}
