#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The tags of one directory of a TIFF structure (a TIFF file, or the Exif block of a JPEG): the
// first, or the one at a given offset; every offset is checked against the block, which the caller
// owns and keeps.
class TiffDirectory {
  public:
    explicit TiffDirectory(std::span<const std::uint8_t> block);
    // The directory at byte `at` of the block (a SubIFD, the next of a chain).
    TiffDirectory(std::span<const std::uint8_t> block, std::uint64_t at);

    // Whether the structure's header and the directory's entries are in the block.
    bool found() const { return first_.has_value(); }
    bool littleEndian() const { return little_; }
    // The bytes the directory takes, [first, second): its count, entries and next offset.
    std::pair<std::uint64_t, std::uint64_t> extent() const;
    // The offset of the next directory of the chain, 0 when none.
    std::uint32_t next() const;

    // The first value of a whole-number tag (SHORT, LONG, IFD, or the signed kinds when not
    // negative).
    std::optional<std::uint32_t> value(std::uint16_t tag) const;

    // Up to `most` values of a whole-number tag, wherever they are kept; none when the tag is
    // missing, of another kind, or its values lie outside the block.
    std::vector<std::uint32_t> values(std::uint16_t tag, std::size_t most) const;

    // How many values a tag states, 0 when missing.
    std::uint32_t count(std::uint16_t tag) const;

    // A tag that the directory lists twice, or 0.
    std::uint32_t twice() const;

    bool has(std::uint16_t tag) const { return entryOf(tag).has_value(); }

    // The text of an ASCII tag, up to its first zero; "" when missing or outside the block.
    std::string text(std::uint16_t tag) const;

    // Whether the block holds a TIFF header and the whole of its first directory's entries.
    bool whole() const;

    // Its orientation tag as Exif numbers it, 1 when missing or out of range.
    int orientation() const;

    // The bytes that the values of its entries take outside the directory, [first, second), as
    // far as they lie in the block.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> valueExtents() const;

  private:
    std::optional<std::size_t> entryOf(std::uint16_t tag) const;
    std::size_t entries() const;
    // The size of one value of each TIFF type, 0 for types unknown.
    static std::uint64_t typeSize(std::uint32_t type);
    std::uint32_t u16(std::size_t at) const;
    std::uint32_t u32(std::size_t at) const;

    std::span<const std::uint8_t> b_;
    bool little_ = false;
    std::optional<std::size_t> first_;
};
