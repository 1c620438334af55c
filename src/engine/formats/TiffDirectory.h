#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The tags of a TIFF structure's first directory (a TIFF file, or the Exif block of a JPEG);
// every offset is checked against the block, which the caller owns and keeps.
class TiffDirectory {
  public:
    explicit TiffDirectory(std::span<const std::uint8_t> block);

    // The first value of a whole-number tag (SHORT, LONG, or their signed kinds when not
    // negative).
    std::optional<std::uint32_t> value(std::uint16_t tag) const;

    // Up to `most` values of a whole-number tag, wherever they are kept; none when the tag is
    // missing, of another kind, or its values lie outside the block.
    std::vector<std::uint32_t> values(std::uint16_t tag, std::size_t most) const;

    // A tag that the directory lists twice, or 0.
    std::uint32_t twice() const;

    bool has(std::uint16_t tag) const { return entryOf(tag).has_value(); }

    // The text of an ASCII tag, up to its first zero; "" when missing or outside the block.
    std::string text(std::uint16_t tag) const;

    // Whether the block holds a TIFF header and the whole of its first directory's entries.
    bool whole() const;

    // Its orientation tag as Exif numbers it, 1 when missing or out of range.
    int orientation() const;

  private:
    std::optional<std::size_t> entryOf(std::uint16_t tag) const;
    std::uint32_t u16(std::size_t at) const;
    std::uint32_t u32(std::size_t at) const;

    std::span<const std::uint8_t> b_;
    bool little_ = false;
    std::optional<std::size_t> first_;
};
