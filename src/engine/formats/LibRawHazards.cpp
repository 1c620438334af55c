#include "engine/formats/LibRawHazards.h"

#include "engine/formats/ByteReading.h"

#include <cstring>

using namespace bytes;

namespace {

// The directory entry at `at` in either byte order: its tag, and its count (0 when the bytes do
// not hold an entry).
struct Entry {
    std::uint32_t tag = 0;
    std::uint32_t count = 0;
    std::uint32_t value = 0;  // the first 4 bytes of its value field, as stored
};

Entry entryAt(std::span<const std::uint8_t> b, std::size_t at, bool little) {
    if (at + 12 > b.size()) {
        return {};
    }
    return little ? Entry{le16(b, at), le32(b, at + 4), be32(b, at + 8)}
                  : Entry{be16(b, at), be32(b, at + 4), be32(b, at + 8)};
}

// Whether the entry before `at` states a 6 × 6 repeat (two SHORTs 6, 6, in the entry).
bool repeatsSixBySix(std::span<const std::uint8_t> b, std::size_t at, bool little) {
    if (at < 12) {
        return false;
    }
    const Entry before = entryAt(b, at - 12, little);
    const std::uint32_t sixes = little ? 0x06000600u : 0x00060006u;
    return before.tag == 33421 && before.count == 2 && before.value == sixes;
}

}  // namespace

std::string LibRawHazard(std::span<const std::uint8_t> b) {
    // Candidates by a byte that every such tag holds in either order: 0x82 of 33422 (0x828E),
    // 0xFD of 64777 (0xFD09).
    for (const std::uint8_t key : {std::uint8_t(0x82), std::uint8_t(0xFD)}) {
        const std::uint8_t* from = b.data();
        const std::uint8_t* const end = b.data() + b.size();
        while (from < end) {
            const auto* hit = static_cast<const std::uint8_t*>(std::memchr(from, key, end - from));
            if (hit == nullptr) {
                break;
            }
            from = hit + 1;
            const auto at = std::size_t(hit - b.data());
            // The tag begins here (big-endian) or a byte before (little-endian).
            for (const bool little : {false, true}) {
                if (little && at == 0) {
                    continue;
                }
                const std::size_t entry = little ? at - 1 : at;
                const Entry e = entryAt(b, entry, little);
                if ((e.tag == 33422 || e.tag == 64777) && e.count == 36 &&
                    !(e.tag == 33422 && repeatsSixBySix(b, entry, little))) {
                    return "a colour filter pattern of 36 entries that is no 6 x 6 repeat";
                }
            }
        }
    }
    return {};
}
