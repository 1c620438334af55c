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

// Rows are summed first, 16 bytes at a time into 16-bit sums (257 rows of 255 fit; taller
// blocks add every 257 rows into 32-bit sums); then the columns of each block.
QImage AverageDown(const QImage& picture, int factor) {
    constexpr int kNarrowRows = 65535 / 255;
    const int channels = picture.format() == QImage::Format_Grayscale8 ? 1 : 4;
    const int width = (picture.width() + factor - 1) / factor;
    const int height = (picture.height() + factor - 1) / factor;
    const int bytes = picture.width() * channels;
    QImage out(width, height, picture.format());
    std::vector<std::uint16_t> narrow(static_cast<std::size_t>(bytes));
    std::vector<std::uint32_t> column(factor > kNarrowRows ? static_cast<std::size_t>(bytes) : 0);
    // Written out as vectors: the compiler's own vectoriser leaves such loops alone at this
    // optimisation level. Bytes are widened by interleaving them with zeroes (little-endian).
    using Bytes = std::uint8_t __attribute__((vector_size(16)));
    using Halves = std::uint16_t __attribute__((vector_size(16)));
    const Bytes zero{};
    // The columns of each block of a row of blocks, from their sums (16 or 32 bits).
    const auto columns = [&](uchar* outLine, int rows, const auto* sums) {
        const RoundedDivision whole(static_cast<std::uint32_t>(rows * factor));
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
            const int count = rows * (picture.width() - full * factor);
            for (int c = 0; c < channels; ++c) {
                std::uint32_t sum = 0;
                for (int k = 0; k < picture.width() - full * factor; ++k) {
                    sum += sums[(full * factor + k) * channels + c];
                }
                outLine[full * channels + c] = static_cast<uchar>((sum + count / 2) / count);
            }
        }
    };
    for (int y = 0; y < height; ++y) {
        const int top = y * factor;
        const int rows = std::min(factor, picture.height() - top);
        if (rows > kNarrowRows) {
            std::fill(column.begin(), column.end(), 0u);
        }
        for (int from = 0; from < rows; from += kNarrowRows) {
            std::fill(narrow.begin(), narrow.end(), std::uint16_t(0));
            for (int r = from; r < std::min(rows, from + kNarrowRows); ++r) {
                const uchar* line = picture.constScanLine(top + r);
                int i = 0;
                for (; i + 16 <= bytes; i += 16) {
                    Bytes some;
                    Halves low, high;
                    std::memcpy(&some, line + i, sizeof some);
                    std::memcpy(&low, narrow.data() + i, sizeof low);
                    std::memcpy(&high, narrow.data() + i + 8, sizeof high);
                    low += reinterpret_cast<Halves>(__builtin_shufflevector(
                        some, zero, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23));
                    high += reinterpret_cast<Halves>(__builtin_shufflevector(
                        some, zero, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31));
                    std::memcpy(narrow.data() + i, &low, sizeof low);
                    std::memcpy(narrow.data() + i + 8, &high, sizeof high);
                }
                for (; i < bytes; ++i) {
                    narrow[static_cast<std::size_t>(i)] += line[i];
                }
            }
            for (std::size_t i = 0; rows > kNarrowRows && i < column.size(); ++i) {
                column[i] += narrow[i];
            }
        }
        if (rows > kNarrowRows) {
            columns(out.scanLine(y), rows, column.data());
        } else {
            columns(out.scanLine(y), rows, narrow.data());
        }
    }
    return out;
}
