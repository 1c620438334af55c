#include "engine/JpegRoundTrip.h"
#include "engine/output/JpegWriter.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace
