#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

// A lossless JPEG as cameras write one into a raw file: one frame (SOF3), one Huffman table for
// every component, predictor 1 (the sample to the left; the one above at the start of a row).
// `samples` holds `height` rows of `width` pixels of `components` interleaved samples, each of
// `bits` bits (2 to 16).
QByteArray LosslessJpegBytes(const std::vector<std::uint16_t>& samples, int width, int height,
                             int components, int bits);
