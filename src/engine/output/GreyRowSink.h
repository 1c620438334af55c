#pragma once

#include "filter/PixelImage.h"

#include <cstddef>
#include <cstdint>

// Where a grey picture goes when it is made a band of rows at a time, top to bottom.
class GreyRowSink {
  public:
    virtual ~GreyRowSink() = default;
    // Before the first rows; again, for a fresh start, when the maker starts the picture over.
    virtual void begin(int width, int height) = 0;
    // The next `count` rows: `rows` points to the first, the others follow `stride` bytes apart.
    // The rows are the caller's and may change once this returns.
    virtual void take(const std::uint8_t* rows, std::ptrdiff_t stride, int count) = 0;
};

// Keeps the rows as a whole picture.
class GreyImageSink : public GreyRowSink {
  public:
    void begin(int width, int height) override {
        image = GreyImage(width, height);
        row = 0;
    }
    void take(const std::uint8_t* rows, std::ptrdiff_t stride, int count) override;

    GreyImage image;
    int row = 0;  // the next row to fill
};
