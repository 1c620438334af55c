#pragma once

#include <cstddef>
#include <cstdint>

// The rows of a PNG picture of 8-bit samples, not interlaced, undone from the file's filters and
// laid out as blue, green, red and alpha or a zero byte.

// Undoes filter `type` (0 to 4; false for any other) on `row`, `bytes` long, in place, with
// `above` the row before it as undone (zeros for the first). `pixelBytes` is 1 to 4.
bool UnfilterPngRow(int type, std::uint8_t* row, const std::uint8_t* above, std::size_t bytes,
                    int pixelBytes);

// Lays out `width` pixels of `row`, stored as PNG colour type `colourType` (0 grey, 2 colour,
// 4 grey and alpha, 6 colour and alpha), into `into`, 4 bytes a pixel.
void PngRowToBgrx(int colourType, const std::uint8_t* row, std::uint8_t* into, int width);
