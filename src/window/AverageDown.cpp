#include "window/AverageDown.h"

#include <algorithm>
#include <cstdint>
#include <vector>

// Rows are summed first, a loop the compiler vectorises, then the columns of each block.
QImage AverageDown(const QImage& picture, int factor) {
    const int channels = picture.format() == QImage::Format_Grayscale8 ? 1 : 4;
    const int width = (picture.width() + factor - 1) / factor;
    const int height = (picture.height() + factor - 1) / factor;
    const int bytes = picture.width() * channels;
    QImage out(width, height, picture.format());
    std::vector<std::uint32_t> column(static_cast<std::size_t>(bytes));
    for (int y = 0; y < height; ++y) {
        std::fill(column.begin(), column.end(), 0u);
        const int top = y * factor;
        const int rows = std::min(factor, picture.height() - top);
        for (int r = 0; r < rows; ++r) {
            const uchar* line = picture.constScanLine(top + r);
            for (int i = 0; i < bytes; ++i) {
                column[static_cast<std::size_t>(i)] += line[i];
            }
        }
        uchar* outLine = out.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const int left = x * factor;
            const int columns = std::min(factor, picture.width() - left);
            const std::uint32_t count = static_cast<std::uint32_t>(rows * columns);
            for (int c = 0; c < channels; ++c) {
                std::uint32_t sum = 0;
                for (int k = 0; k < columns; ++k) {
                    sum += column[static_cast<std::size_t>((left + k) * channels + c)];
                }
                outLine[x * channels + c] = static_cast<uchar>((sum + count / 2) / count);
            }
        }
    }
    return out;
}
