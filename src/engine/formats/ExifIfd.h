#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

// One directory of an Exif block read in one walk: its entries as stored, each value's bytes
// checked against the block. The block is the caller's and outlives the reader. Directories may
// share bytes or point at each other, so the readers of one block, copies and readers in the other
// byte order among them, share a budget of the entries they read: a quarter of the block's bytes,
// three times what directories apart from each other hold, keeps the work linear in the block.
struct ExifEntry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::uint64_t at = 0;     // the entry's 12 bytes in the block
    std::uint64_t value = 0;  // where its value is: in the entry, or at its offset
    std::uint64_t bytes = 0;  // the value's size

    bool outside() const { return bytes > 4; }  // kept at an offset rather than in the entry
};

class ExifBytes {
  public:
    ExifBytes(std::span<const std::uint8_t> block, bool little)
        : ExifBytes(block, little, block.size() / 4) {}
    // A reader whose budget is `units` entries, for a block of which only a part is read (a
    // picture file's directories).
    ExifBytes(std::span<const std::uint8_t> block, bool little, std::uint64_t units)
        : b_(block), little_(little), left_(std::make_shared<std::uint64_t>(units)) {}

    // A reader of the same block, sharing the budget, in the byte order `little`.
    ExifBytes inOrder(bool little) const {
        ExifBytes other = *this;
        other.little_ = little;
        return other;
    }

    std::span<const std::uint8_t> block() const { return b_; }
    bool little() const { return little_; }
    std::uint32_t u16(std::uint64_t at) const;
    std::uint32_t u32(std::uint64_t at) const;

    // The bytes of one value of each TIFF type (1 to 13), 0 for others.
    static std::uint64_t typeSize(std::uint32_t type);

    // The directory at `at`, offsets of its values counted from `base`: its entries whose type is
    // known and whose value lies in the block (the others are left out, as readers stop at them),
    // its extent [at, end) and the offset of the next one. Nothing when its count or entries are
    // not in the block, or when the budget does not cover its entries.
    struct Directory {
        std::vector<ExifEntry> entries;
        std::uint64_t at = 0, end = 0;
        std::uint32_t next = 0;
    };
    std::optional<Directory> directory(std::uint64_t at, std::uint64_t base = 0) const;

    // The first whole number of `entry` (BYTE, SHORT, LONG or IFD).
    std::uint32_t number(const ExifEntry& entry) const;

    // Takes `units` of work (entries, or pieces of a picture) from the budget; false when it
    // does not cover them.
    bool spend(std::uint64_t units) const;

  private:
    std::span<const std::uint8_t> b_;
    bool little_;
    std::shared_ptr<std::uint64_t> left_;
};
