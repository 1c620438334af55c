#include "engine/JpegRoundTrip.h"
#include "engine/output/JpegWriter.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

// Fine lines, flat areas and noise: what the filter gives, and what a JPEG smears.
GreyImage lineArt(int width, int height) {
    GreyImage picture(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int noise = (x * 7919 + y * 104729) % 31;
            picture.row(y)[x] = static_cast<std::uint8_t>((x + y) % 17 == 0 ? 0
                                                          : x * y % 97 < 40 ? 255 - noise
                                                                            : 120 + noise);
        }
    }
    return picture;
}

// The whole file the batch writes, read back by Qt's reader: another decoder than the round
// trip's, with the same defaults.
QImage writtenAndRead(const GreyImage& picture, int quality) {
    const EncodedBytes file = EncodeGreyJpeg(picture, quality);
    QImage read = QImage::fromData(file.data(), static_cast<int>(file.size()), "jpeg");
    EXPECT_EQ(read.format(), QImage::Format_Grayscale8);
    return read;
}

bool samePixels(const GreyImage& part, const QImage& whole, const QRect& where) {
    if (part.width() != where.width() || part.height() != where.height()) {
        return false;
    }
    for (int y = 0; y < part.height(); ++y) {
        if (std::memcmp(part.row(y), whole.constScanLine(where.top() + y) + where.left(),
                        static_cast<std::size_t>(part.width())) != 0) {
            return false;
        }
    }
    return true;
}

// Any part, made of whole blocks, and the whole picture in strips on any number of threads,
// give exactly the pixels of the whole file, at every quality.
TEST(JpegRoundTrip, GivesThePixelsOfTheWrittenFile) {
    const GreyImage picture = lineArt(203, 517);
    const struct {
        QRect asked;
        QRect aligned;
    } parts[] = {
        {QRect(0, 0, 203, 517), QRect(0, 0, 203, 517)},
        {QRect(13, 9, 50, 40), QRect(8, 8, 56, 48)},
        {QRect(200, 512, 3, 5), QRect(200, 512, 3, 5)},
        {QRect(190, 500, 40, 40), QRect(184, 496, 19, 21)},
        {QRect(-5, -5, 9, 9), QRect(0, 0, 8, 8)},
    };
    const std::atomic<bool> go{false};
    for (const int quality : {1, 30, 85, 100}) {
        const QImage whole = writtenAndRead(picture, quality);
        for (const auto& part : parts) {
            ASSERT_EQ(BlockAligned(part.asked, 203, 517), part.aligned);
            EXPECT_TRUE(
                samePixels(RoundTripPart(picture, part.asked, quality).pixels, whole, part.aligned))
                << "quality " << quality << ", part at " << part.asked.x() << "," << part.asked.y();
        }
        const std::uint64_t fileBytes = EncodeGreyJpeg(picture, quality).size();
        for (const int threads : {1, 2, 3}) {
            const JpegRoundTrip trip = RoundTripWhole(picture, quality, threads, go);
            EXPECT_TRUE(samePixels(trip.pixels, whole, QRect(0, 0, 203, 517)))
                << "quality " << quality << ", " << threads << " threads";
            EXPECT_NEAR(double(trip.fileBytes), double(fileBytes), fileBytes * 0.01 + 16);
        }
    }
    const std::atomic<bool> stop{true};
    EXPECT_TRUE(RoundTripWhole(picture, 85, 2, stop).pixels.empty());
    EXPECT_TRUE(BlockAligned(QRect(300, 0, 10, 10), 203, 517).isEmpty());
}

// Made from the round trip of another picture, the blocks that changed alone through the
// encoder: exactly the whole file's pixels, whichever blocks changed (none, one pixel at an edge
// or a corner, scattered, all), at every quality, on any number of threads; the size estimated
// from the last one's is within a per cent of the whole's, and the size told apart is the
// whole's.
TEST(JpegRoundTrip, FromTheLastOneOnlyTheChangedBlocksAreRedone) {
    const std::atomic<bool> go{false};
    // A page: white, or line art; a change turns a pixel to its negative, or to `grey`.
    const auto invert = [](int, int, int old) { return 255 - old; };
    const struct {
        const char* name;
        bool partial;  // few enough blocks changed to redo them alone
        int width, height;
        bool lineArt;
        std::function<bool(int x, int y)> changes;
        std::function<int(int x, int y, int old)> into;
    } cases[] = {
        {"nothing", true, 203, 517, true, [](int, int) { return false; }, invert},
        {"the bottom right pixel", true, 203, 517, true,
         [](int x, int y) { return x == 202 && y == 516; }, invert},
        {"the right edge's blocks", true, 203, 517, true,
         [](int x, int y) { return x == 201 && y % 9 == 0; }, invert},
        {"the bottom edge's blocks", true, 203, 517, true,
         [](int x, int y) { return y == 515 && x % 11 == 0; }, invert},
        {"scattered", true, 203, 517, true,
         [](int x, int y) { return (x * 31 + y * 17) % 1999 == 0; }, invert},
        {"every pixel", false, 203, 517, true, [](int, int) { return true; }, invert},
        {"more blocks than a row of tiles", true, 4100, 128, true,
         [](int x, int y) { return x % 8 == 3 && y % 8 == 2 && (x / 8 + y / 8) % 20 == 0; },
         invert},
        {"a picture narrower than a block", false, 5, 3, true,
         [](int x, int y) { return x + y == 4; }, invert},
        // The tiles left over in the last row of tiles must not count the last block again.
        {"257 flat blocks greyed, the last one detailed", true, 2048, 256, false,
         [](int x, int y) { return y < 8 || (y < 16 && x < 8); },
         [](int x, int y, int) { return y >= 8 ? (x * 37 + y * 11) % 256 : 200; }},
        // A block's average is coded against its neighbour's in the file.
        {"one flat block in twenty made darker", true, 800, 400, false,
         [](int x, int y) { return (x / 8 + y / 8) % 20 == 0; }, [](int, int, int) { return 150; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto base = [&] {
            if (c.lineArt) {
                return lineArt(c.width, c.height);
            }
            GreyImage page(c.width, c.height);
            for (int y = 0; y < c.height; ++y) {
                std::memset(page.row(y), 255, std::size_t(c.width));
            }
            return page;
        };
        const GreyImage was = base();
        GreyImage picture = base();
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                if (c.changes(x, y)) {
                    picture.row(y)[x] = static_cast<std::uint8_t>(c.into(x, y, picture.row(y)[x]));
                }
            }
        }
        for (const int quality : {1, 85, 100}) {
            const QImage whole = writtenAndRead(picture, quality);
            const JpegRoundTrip before = RoundTripWhole(was, quality, 2, go);
            for (const int threads : {1, 2}) {
                // On two threads into the memory of a picture no longer wanted, left dirty.
                GreyImage into(threads == 2 ? c.width : 0, threads == 2 ? c.height : 0);
                for (int y = 0; y < into.height(); ++y) {
                    std::memset(into.row(y), 0x55, std::size_t(c.width));
                }
                const JpegRoundTrip trip =
                    RoundTripChanged(picture, was, before.pixels, before.fileBytes, quality,
                                     threads, go, std::move(into));
                EXPECT_TRUE(samePixels(trip.pixels, whole, QRect(0, 0, c.width, c.height)))
                    << "quality " << quality << ", " << threads << " threads";
                EXPECT_EQ(trip.estimated, c.partial);
                const double exact = double(RoundTripWhole(picture, quality, 2, go).fileBytes);
                const std::uint64_t estimate =
                    trip.estimated ? EstimatedBytes(picture, was, trip.changed, before.fileBytes,
                                                    quality, threads, go)
                                   : trip.fileBytes;
                EXPECT_NEAR(double(estimate), exact, exact * 0.01 + 16)
                    << "quality " << quality << ", " << threads << " threads";
            }
            EXPECT_EQ(EncodedBytesWhole(picture, quality, 2, go),
                      RoundTripWhole(picture, quality, 2, go).fileBytes);
        }
    }
    const std::atomic<bool> stop{true};
    const GreyImage picture = lineArt(64, 64);
    EXPECT_TRUE(RoundTripChanged(picture, lineArt(64, 64), lineArt(64, 64), 1000, 85, 2, stop)
                    .pixels.empty());
    EXPECT_EQ(EncodedBytesWhole(picture, 85, 2, stop), 0u);
}

}  // namespace
