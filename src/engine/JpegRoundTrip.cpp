#include "engine/JpegRoundTrip.h"

#include "engine/JpegBlockDecoder.h"
#include "engine/output/JpegEncoder.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

namespace {

constexpr int kBlock = 8;
constexpr int kStripsPerThread = 4;  // strips run unevenly fast: line art next to sky
constexpr int kLeastStripRows = 64;

// Encodes `part` of `picture` and, given `into`, decodes it into rows `top` on of `into` as it
// goes, a row of blocks at a time, from the blocks' coefficients: the pixels a viewer decodes
// from the file, without undoing the file's entropy coding.
EncodedBytes encode(const GreyImage& picture, const QRect& part, int quality,
                    GreyImage* into = nullptr, int top = 0) {
    JpegEncoder encoder(quality);
    std::vector<std::int16_t> blocks;
    if (into != nullptr) {
        encoder.keepBlocks(&blocks);
    }
    encoder.begin(part.width(), part.height());
    if (into == nullptr) {
        encoder.take(picture.row(part.top()) + part.left(), picture.stride(), part.height());
        return encoder.finish();
    }
    std::optional<JpegBlockDecoder> decoder;
    for (int y = 0; y < part.height(); y += kBlock) {
        encoder.take(picture.row(part.top() + y) + part.left(), picture.stride(),
                     std::min(kBlock, part.height() - y));
        if (!decoder) {
            decoder.emplace(encoder.written());  // the headers are written with the first rows
        }
        decoder->decodeRow(blocks.data(), *into, top + y);
        blocks.clear();
    }
    return encoder.finish();
}

}  // namespace

QRect BlockAligned(const QRect& part, int width, int height) {
    const QRect inside = part.intersected(QRect(0, 0, width, height));
    if (inside.isEmpty()) {
        return {};
    }
    const int left = inside.left() / kBlock * kBlock;
    const int top = inside.top() / kBlock * kBlock;
    const int right = std::min(width, (inside.right() + kBlock) / kBlock * kBlock);
    const int bottom = std::min(height, (inside.bottom() + kBlock) / kBlock * kBlock);
    return QRect(left, top, right - left, bottom - top);
}

JpegRoundTrip RoundTripPart(const GreyImage& picture, const QRect& part, int quality) {
    const QRect aligned = BlockAligned(part, picture.width(), picture.height());
    if (aligned.isEmpty()) {
        return {};
    }
    JpegRoundTrip result{GreyImage(aligned.width(), aligned.height()), 0, false, {}};
    result.fileBytes = encode(picture, aligned, quality, &result.pixels).size();
    return result;
}

namespace {

// The picture in strips of whole blocks on up to `threads` threads, each strip encoded and, when
// `into` is given, decoded into it: the sum of the strips' files with one header, within a few
// bytes a strip of the whole file's size; 0 as soon as `stop` is set.
std::uint64_t inStrips(const GreyImage& picture, int quality, int threads,
                       const std::atomic<bool>& stop, GreyImage* into) {
    const int blockRows = (picture.height() + kBlock - 1) / kBlock;
    const int wanted = std::max(1, threads) * kStripsPerThread;
    const int stripBlocks =
        std::max(kLeastStripRows / kBlock, (blockRows + wanted - 1) / std::max(1, wanted));
    const int strips = (blockRows + stripBlocks - 1) / stripBlocks;
    std::vector<std::uint64_t> sizes(static_cast<std::size_t>(strips), 0);
    std::uint64_t header = 0;
    std::atomic<int> next{0};
    std::exception_ptr failure;
    std::atomic<bool> failed{false};
    const auto work = [&] {
        for (int s = next++; s < strips && !stop && !failed; s = next++) {
            try {
                const int top = s * stripBlocks * kBlock;
                const QRect strip(0, top, picture.width(),
                                  std::min(stripBlocks * kBlock, picture.height() - top));
                const EncodedBytes file = encode(picture, strip, quality, into, top);
                sizes[static_cast<std::size_t>(s)] = file.size();
                if (s == 0) {
                    header = ScanHeaderEnd({file.data(), file.size()});
                }
            } catch (...) {
                if (!failed.exchange(true)) {
                    failure = std::current_exception();
                }
            }
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (int t = 1; t < std::min(threads, strips); ++t) {
            helpers.emplace_back(work);
        }
        work();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    if (stop) {
        return 0;
    }
    std::uint64_t bytes = 0;
    for (const std::uint64_t size : sizes) {
        bytes += size;
    }
    // Each strip's file repeats the header and ends with its own two-byte end marker.
    return bytes - std::uint64_t(strips - 1) * (header + 2);
}

}  // namespace

JpegRoundTrip RoundTripWhole(const GreyImage& picture, int quality, int threads,
                             const std::atomic<bool>& stop, GreyImage into) {
    if (picture.empty()) {
        return {};
    }
    const bool fits = into.width() == picture.width() && into.height() == picture.height();
    JpegRoundTrip result{
        fits ? std::move(into) : GreyImage(picture.width(), picture.height()), 0, false, {}};
    result.fileBytes = inStrips(picture, quality, threads, stop, &result.pixels);
    if (stop) {
        return {};
    }
    return result;
}

std::uint64_t EncodedBytesWhole(const GreyImage& picture, int quality, int threads,
                                const std::atomic<bool>& stop) {
    return picture.empty() ? 0 : inStrips(picture, quality, threads, stop, nullptr);
}

namespace {

// Blocks of `source` (by index: row of blocks x blocks across + column) side by side in a
// picture of their own, each as the encoder sees it in the whole: a block at the right or bottom
// edge filled out by repeating its last column, then its last row. The tiles left over are flat.
GreyImage tilesOf(const GreyImage& source, const std::vector<int>& blocks) {
    constexpr int kTilesAcross = 256;
    const int width = source.width();
    const int height = source.height();
    const int blocksAcross = (width + kBlock - 1) / kBlock;
    const int count = static_cast<int>(blocks.size());
    const int across = std::min(count, kTilesAcross);
    GreyImage tiles(across * kBlock, (count + across - 1) / across * kBlock);
    for (int t = 0; t < across * (tiles.height() / kBlock); ++t) {
        const int toX = t % across * kBlock;
        const int toY = t / across * kBlock;
        if (t >= count) {
            for (int row = 0; row < kBlock; ++row) {
                std::memset(tiles.row(toY + row) + toX, 128, kBlock);
            }
            continue;
        }
        const int x = blocks[std::size_t(t)] % blocksAcross * kBlock;
        const int y = blocks[std::size_t(t)] / blocksAcross * kBlock;
        const int columns = std::min(kBlock, width - x);
        for (int row = 0; row < kBlock; ++row) {
            const std::uint8_t* from = source.row(std::min(y + row, height - 1)) + x;
            std::uint8_t* into = tiles.row(toY + row) + toX;
            std::memcpy(into, from, std::size_t(columns));
            std::fill(into + columns, into + kBlock, from[columns - 1]);
        }
    }
    return tiles;
}

}  // namespace

JpegRoundTrip RoundTripChanged(const GreyImage& picture, const GreyImage& was,
                               const GreyImage& before, std::uint64_t beforeBytes, int quality,
                               int threads, const std::atomic<bool>& stop, GreyImage into) {
    if (picture.empty() || was.width() != picture.width() || was.height() != picture.height() ||
        before.width() != picture.width() || before.height() != picture.height()) {
        return RoundTripWhole(picture, quality, threads, stop, std::move(into));
    }
    const int width = picture.width();
    const int height = picture.height();
    const int blocksAcross = (width + kBlock - 1) / kBlock;
    const int blockRows = (height + kBlock - 1) / kBlock;
    // 1. The blocks whose pixels differ from `was`, listed in bands on every thread, until more
    //    have changed than redoing them (with the size's estimate, which encodes them with their
    //    neighbours twice) would save against the whole, which tells the exact size
    //    (bench/round_trip_bench: a Black Filter step of 1 changes 9 % of the blocks, and takes
    //    6 ms and 6 against 13).
    const std::size_t most = std::size_t(blocksAcross) * std::size_t(blockRows) / 16;
    std::atomic<std::size_t> found{0};
    std::vector<std::vector<int>> changedIn(static_cast<std::size_t>(std::max(1, threads)));
    {
        const int bands = static_cast<int>(changedIn.size());
        const auto band = [&](int k) {
            // Row by row, 8 bytes (a block's row) at a time, marking the blocks that differ.
            std::vector<std::uint8_t> differs(static_cast<std::size_t>(blocksAcross));
            std::vector<int>& mine = changedIn[std::size_t(k)];
            const int whole = width / kBlock;
            for (int by = blockRows * k / bands;
                 by < blockRows * (k + 1) / bands && !stop && found <= most; ++by) {
                std::fill(differs.begin(), differs.end(), 0);
                for (int y = by * kBlock; y < std::min(height, by * kBlock + kBlock); ++y) {
                    const std::uint8_t* now = picture.row(y);
                    const std::uint8_t* then = was.row(y);
                    for (int bx = 0; bx < whole; ++bx) {
                        std::uint64_t a, b;
                        std::memcpy(&a, now + bx * kBlock, kBlock);
                        std::memcpy(&b, then + bx * kBlock, kBlock);
                        differs[std::size_t(bx)] |= a != b;
                    }
                    if (whole < blocksAcross) {
                        const auto rest = std::size_t(width - whole * kBlock);
                        differs[std::size_t(whole)] |=
                            std::memcmp(now + whole * kBlock, then + whole * kBlock, rest) != 0;
                    }
                }
                const std::size_t had = mine.size();
                for (int bx = 0; bx < blocksAcross; ++bx) {
                    if (differs[std::size_t(bx)] != 0) {
                        mine.push_back(by * blocksAcross + bx);
                    }
                }
                found += mine.size() - had;
            }
        };
        std::vector<std::jthread> helpers;
        for (int k = 1; k < bands; ++k) {
            helpers.emplace_back(band, k);
        }
        band(0);
    }
    if (stop) {
        return {};
    }
    if (found > most) {
        return RoundTripWhole(picture, quality, threads, stop, std::move(into));
    }
    std::vector<int> changed;
    for (const auto& some : changedIn) {
        changed.insert(changed.end(), some.begin(), some.end());
    }
    // 2. The result starts as `before`.
    JpegRoundTrip result{into.width() == width && into.height() == height
                             ? std::move(into)
                             : GreyImage(width, height),
                         beforeBytes,
                         true,
                         {}};
    for (int y = 0; y < height; ++y) {
        std::memcpy(result.pixels.row(y), before.row(y), std::size_t(width));
    }
    if (changed.empty()) {
        return result;
    }
    // 3. The changed blocks round-tripped, each block's pixels back in its place.
    const JpegRoundTrip trip = RoundTripWhole(tilesOf(picture, changed), quality, threads, stop);
    if (trip.pixels.empty()) {
        return {};
    }
    const int across = trip.pixels.width() / kBlock;
    for (std::size_t t = 0; t < changed.size(); ++t) {
        const int x = changed[t] % blocksAcross * kBlock;
        const int y = changed[t] / blocksAcross * kBlock;
        const int fromX = static_cast<int>(t) % across * kBlock;
        const int fromY = static_cast<int>(t) / across * kBlock;
        for (int row = 0; row < std::min(kBlock, height - y); ++row) {
            std::memcpy(result.pixels.row(y + row) + x, trip.pixels.row(fromY + row) + fromX,
                        std::size_t(std::min(kBlock, width - x)));
        }
    }
    result.changed = std::move(changed);
    return result;
}

std::uint64_t EstimatedBytes(const GreyImage& picture, const GreyImage& was,
                             const std::vector<int>& changed, std::uint64_t beforeBytes,
                             int quality, int threads, const std::atomic<bool>& stop) {
    // What the changed blocks take now less what they took. A block's average is coded as its
    // difference from the block before it in the file, so each run of changed blocks is laid out
    // between the unchanged blocks before and after it in the file, alike in both; what the
    // layout adds then cancels out.
    if (changed.empty()) {
        return beforeBytes;
    }
    const int blocks =
        (picture.width() + kBlock - 1) / kBlock * ((picture.height() + kBlock - 1) / kBlock);
    std::vector<int> runs;
    for (std::size_t k = 0; k < changed.size(); ++k) {
        const int block = changed[k];
        if ((k == 0 || changed[k - 1] != block - 1) && block > 0) {
            runs.push_back(block - 1);
        }
        runs.push_back(block);
        if ((k + 1 == changed.size() || changed[k + 1] != block + 1) && block + 1 < blocks) {
            runs.push_back(block + 1);
        }
    }
    const std::uint64_t takes = EncodedBytesWhole(tilesOf(picture, runs), quality, threads, stop);
    const std::uint64_t took = EncodedBytesWhole(tilesOf(was, runs), quality, threads, stop);
    if (stop) {
        return 0;
    }
    return beforeBytes + takes >= took ? beforeBytes + takes - took : 1;
}
