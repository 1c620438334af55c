#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The size, in pixels, that a coded picture's own headers state, read without decoding: what
// its decoder will make, whatever the boxes around it say.
struct CodedSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool operator==(const CodedSize&) const = default;
};

// From an HEVC decoder configuration (an hvcC box's content): the size of its sequence parameter
// set's picture, within its conformance window; nothing when it holds no readable one.
std::optional<CodedSize> HevcConfigurationSize(std::span<const std::uint8_t> hvcC);

// From one HEVC NAL unit (its two-byte header first): the size its sequence parameter set
// states, within its conformance window; nothing for another unit or one that cannot be read.
std::optional<CodedSize> HevcParameterSetSize(std::span<const std::uint8_t> nal);

// The AV1 open bitstream units of `data` walked (each must state its size and fit), and the
// largest frame size their sequence headers state. `fault` says why they cannot be whole: a unit
// running past the data, or sequence headers that state different sizes.
struct Av1Sequence {
    std::optional<CodedSize> size;
    std::string fault;
};
Av1Sequence Av1SequenceSize(std::span<const std::uint8_t> data);
