#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

// An encoded picture file's bytes, owned.
class EncodedBytes {
  public:
    EncodedBytes(std::unique_ptr<std::uint8_t[]> data, std::size_t size)
        : data_(std::move(data)), size_(size) {}
    static EncodedBytes copyOf(const std::uint8_t* data, std::size_t size);
    const std::uint8_t* data() const { return data_.get(); }
    std::size_t size() const { return size_; }

  private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_;
};
