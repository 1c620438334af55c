#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The bytes a zlib stream `compressed` inflates to, when they are at most `most`: inflating stops
// as soon as they would be more, so a small chunk that inflates to gigabytes costs no more than
// `most` bytes of work. Nothing when they are more or the stream is damaged.
std::optional<std::string> InflateAtMost(std::span<const std::uint8_t> compressed,
                                         std::size_t most);
