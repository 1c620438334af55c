#include "window/AverageDown.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// (sum + count / 2) / count, for every sum up to 255 * count, by a multiplication: a division
// for each pixel took most of the time.
class RoundedDivision {
  public:
    explicit RoundedDivision(std::uint32_t count)
        : count_(count),
          shift_(std::bit_width(256u * count) + std::bit_width(count)),
          multiplier_(((std::uint64_t(1) << shift_) + count - 1) / count) {}
    std::uint32_t operator()(std::uint32_t sum) const {
        return static_cast<std::uint32_t>((std::uint64_t(sum + count_ / 2) * multiplier_) >>
                                          shift_);
    }

  private:
    std::uint32_t count_;
    int shift_;
    std::uint64_t multiplier_;
};

}  // namespace

// Rows are summed first, 16 bytes at a time, then the columns of each block.
QImage AverageDown(const QImage& picture, int factor) {
    const int channels = picture.format() == QImage::Format_Grayscale8 ? 1 : 4;
    const int width = (picture.width() + factor - 1) / factor;
    const int height = (picture.height() + factor - 1) / factor;
    const int bytes = picture.width() * channels;
    QImage out(width, height, picture.format());
    std::vector<std::uint32_t> column(static_cast<std::size_t>(bytes));
    // Written out as vectors: the compiler's own vectoriser leaves such loops alone at this
    // optimisation level.
    using Bytes = std::uint8_t __attribute__((vector_size(16)));
    using Sums = std::uint32_t __attribute__((vector_size(64)));
    for (int y = 0; y < height; ++y) {
        std::fill(column.begin(), column.end(), 0u);
        const int top = y * factor;
        const int rows = std::min(factor, picture.height() - top);
        for (int r = 0; r < rows; ++r) {
            const uchar* line = picture.constScanLine(top + r);
            int i = 0;
            for (; i + 16 <= bytes; i += 16) {
                Bytes some;
                Sums sums;
                std::memcpy(&some, line + i, sizeof some);
                std::memcpy(&sums, column.data() + i, sizeof sums);
                sums += __builtin_convertvector(some, Sums);
                std::memcpy(column.data() + i, &sums, sizeof sums);
            }
            for (; i < bytes; ++i) {
                column[static_cast<std::size_t>(i)] += line[i];
            }
        }
        uchar* outLine = out.scanLine(y);
        const RoundedDivision whole(static_cast<std::uint32_t>(rows * factor));
        const std::uint32_t* sums = column.data();
        const int full = picture.width() / factor;  // blocks a whole factor wide
        if (channels == 1) {
            for (int x = 0; x < full; ++x) {
                std::uint32_t sum = 0;
                for (int k = 0; k < factor; ++k) {
                    sum += sums[x * factor + k];
                }
                outLine[x] = static_cast<uchar>(whole(sum));
            }
        } else {
            for (int x = 0; x < full; ++x) {
                for (int c = 0; c < 4; ++c) {
                    std::uint32_t sum = 0;
                    for (int k = 0; k < factor; ++k) {
                        sum += sums[(x * factor + k) * 4 + c];
                    }
                    outLine[x * 4 + c] = static_cast<uchar>(whole(sum));
                }
            }
        }
        if (full < width) {  // the last block, narrower
            const int columns = picture.width() - full * factor;
            const std::uint32_t count = static_cast<std::uint32_t>(rows * columns);
            for (int c = 0; c < channels; ++c) {
                std::uint32_t sum = 0;
                for (int k = 0; k < columns; ++k) {
                    sum += sums[(full * factor + k) * channels + c];
                }
                outLine[full * channels + c] = static_cast<uchar>((sum + count / 2) / count);
            }
        }
    }
    return out;
}
