#pragma once

#include "filter/PixelImage.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

// Decodes a grey baseline JPEG from its blocks' quantised coefficients, as JpegEncoder::keepBlocks
// gives them, rather than from its coded data: libjpeg's dequantisation and inverse transform
// (the accurate integer one, a viewer's default), so the pixels are those of the file, without
// the cost of undoing the entropy coding. Raises RuntimeError (InternalError) when libjpeg fails
// or does not take the blocks as given. One thread at a time.
class JpegBlockDecoder {
  public:
    // `header`: the file's bytes up to the end of its scan header at least; copied.
    explicit JpegBlockDecoder(std::span<const std::uint8_t> header);
    ~JpegBlockDecoder();
    JpegBlockDecoder(const JpegBlockDecoder&) = delete;
    JpegBlockDecoder& operator=(const JpegBlockDecoder&) = delete;

    // The picture's next row of blocks from `blocks` (64 coefficients a block, in natural order,
    // as many blocks as the picture is across) into rows `top` on of `into`, which is as wide as
    // the picture: 8 rows, or fewer for the picture's last. The caller owns both.
    void decodeRow(const std::int16_t* blocks, GreyImage& into, int top);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Where a JPEG file's coded data begins: after its scan header. 0 when `file` holds none.
std::size_t ScanHeaderEnd(std::span<const std::uint8_t> file);
