#pragma once

#include "filter/PixelMemory.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// A picture in memory: width × height pixels of `Channels` bytes each, rows top to bottom,
// `stride()` bytes from the start of one row to the next. Owns its pixels, which start on a
// 64-byte boundary (a cache line, and any vector width) and are not initialised; their memory
// comes from PixelMemory, which keeps it for the thread's next picture. Move-only, so a decoded
// picture is never copied by accident.
template <int Channels>
class PixelImage {
  public:
    PixelImage() = default;
    PixelImage(int width, int height) : PixelImage(width, height, 0) {}
    // The same with `spareBytes` more after the last row, where a decoder may stage its data.
    PixelImage(int width, int height, std::size_t spareBytes)
        : width_(width), height_(height), stride_(static_cast<std::ptrdiff_t>(width) * Channels) {
        std::size_t capacity = 0;
        std::uint8_t* memory = PixelMemory::acquire(byteCount() + spareBytes, capacity);
        pixels_ = std::unique_ptr<std::uint8_t[], Free>(memory, Free{capacity});
    }

    PixelImage(PixelImage&&) noexcept = default;
    PixelImage& operator=(PixelImage&&) noexcept = default;

    int width() const { return width_; }
    int height() const { return height_; }
    std::ptrdiff_t stride() const { return stride_; }
    std::size_t byteCount() const { return static_cast<std::size_t>(stride_) * height_; }
    bool empty() const { return width_ == 0 || height_ == 0; }

    std::uint8_t* data() { return pixels_.get(); }
    const std::uint8_t* data() const { return pixels_.get(); }
    std::uint8_t* row(int y) { return pixels_.get() + stride_ * y; }
    const std::uint8_t* row(int y) const { return pixels_.get() + stride_ * y; }

  private:
    struct Free {
        std::size_t capacity = 0;
        void operator()(std::uint8_t* p) const { PixelMemory::release(p, capacity); }
    };

    int width_ = 0;
    int height_ = 0;
    std::ptrdiff_t stride_ = 0;
    std::unique_ptr<std::uint8_t[], Free> pixels_;
};

// Blue, green, red and a fourth byte that carries no colour.
using BgrxImage = PixelImage<4>;
// One grey level a pixel.
using GreyImage = PixelImage<1>;
