#include "engine/output/EncodedBytes.h"

#include <cstring>

EncodedBytes EncodedBytes::copyOf(const std::uint8_t* data, std::size_t size) {
    auto copy = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    std::memcpy(copy.get(), data, size);
    return EncodedBytes(std::move(copy), size);
}
