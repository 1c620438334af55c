#include "base/RuntimeError.h"
#include "engine/FilterWhileDecoding.h"
#include "engine/PictureLoader.h"
#include "support/TestPictures.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <random>
#include <stdexcept>

namespace {

std::vector<std::uint8_t> bytesOf(const QByteArray& b) {
    return {b.begin(), b.end()};
}

// Noise over flat patches and hard edges, so that every band of the filter is met.
BgrxImage busyPicture(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    return MakePicture(width, height, [&](int x, int y) -> quint32 {
        if ((x / 16 + y / 4) % 3 == 0) {
            return 0xF0F0F0;
        }
        return ((x / 8) % 2 ? 0x102030 : 0) | (random() & 0x3F3F3F);
    });
}

std::vector<std::uint8_t> jpegOf(const BgrxImage& p, int subsampling, int flags) {
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int failed = tjCompress2(tj, p.data(), p.width(), static_cast<int>(p.stride()),
                                   p.height(), TJPF_BGRX, &out, &size, subsampling, 90, flags);
    std::vector<std::uint8_t> bytes(out, out + (failed ? 0 : size));
    tjFree(out);
    tjDestroy(tj);
    if (failed) {
        throw std::runtime_error("tjCompress2 failed");
    }
    return bytes;
}

// The result of the whole-picture way, or its failure.
std::string whole(const std::vector<std::uint8_t>& bytes, GreyImage& grey) {
    try {
        grey = ApplyBlackWhiteFilter(DecodePicture(bytes, QStringLiteral("p.jpg")), {});
    } catch (const RuntimeError& e) {
        return std::to_string(e.number()) + " " + e.description();
    }
    return "";
}

std::string inBands(const std::vector<std::uint8_t>& bytes, GreyImageSink& sink) {
    try {
        EXPECT_TRUE(FilterJpegWhileDecoding(bytes, QStringLiteral("p.jpg"), {}, sink));
    } catch (const RuntimeError& e) {
        return std::to_string(e.number()) + " " + e.description();
    }
    return "";
}

void expectSameAsWhole(const std::vector<std::uint8_t>& bytes, const std::string& what) {
    GreyImage expected;
    GreyImageSink sink;
    const std::string failure = whole(bytes, expected);
    ASSERT_EQ(inBands(bytes, sink), failure) << what;
    if (!failure.empty()) {
        return;
    }
    ASSERT_EQ(sink.image.width(), expected.width()) << what;
    ASSERT_EQ(sink.image.height(), expected.height()) << what;
    ASSERT_EQ(sink.row, expected.height()) << what;
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            ASSERT_EQ(sink.image.row(y)[x], expected.row(y)[x]) << what << " at " << x << "," << y;
        }
    }
}

TEST(FilterWhileDecoding, GivesThePixelsOfTheWholePictureWay) {
    // 8192 pixels wide takes 8 rows a band: the heights end a picture inside, at and after a
    // band's end. 2048 wide takes 32.
    const std::pair<int, int> sizes[] = {{8192, 1},  {8192, 2},  {8192, 3}, {8192, 9}, {8192, 10},
                                         {8192, 17}, {2048, 70}, {37, 5},   {1, 1},    {3, 300}};
    const struct {
        const char* name;
        int subsampling;
        int flags;
    } kinds[] = {{"4:4:4", TJSAMP_444, 0},
                 {"4:2:0", TJSAMP_420, 0},
                 {"4:2:2", TJSAMP_422, 0},
                 {"grey", TJSAMP_GRAY, 0},
                 {"progressive 4:2:0", TJSAMP_420, TJFLAG_PROGRESSIVE}};
    unsigned seed = 1;
    for (auto [w, h] : sizes) {
        const BgrxImage picture = busyPicture(w, h, seed++);
        for (const auto& k : kinds) {
            expectSameAsWhole(jpegOf(picture, k.subsampling, k.flags),
                              std::to_string(w) + "x" + std::to_string(h) + " " + k.name);
        }
    }
    expectSameAsWhole(bytesOf(CmykJpegBytes(40, 40, 255, 0, 128, 200)), "CMYK");
}

TEST(FilterWhileDecoding, FlawedFilesGiveTheWholePictureWaysResultOrFailure) {
    const std::vector<std::uint8_t> good = jpegOf(busyPicture(2048, 70, 7), TJSAMP_420, 0);
    std::vector<std::uint8_t> stray = good;  // a harmless flaw: decoded twice, still whole
    stray.insert(stray.end() - 2, {0x12, 0x34, 0x56});
    std::vector<std::uint8_t> damaged = good;  // entropy data overwritten
    std::fill(damaged.begin() + damaged.size() / 2, damaged.begin() + damaged.size() / 2 + 64,
              0xFF);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"stray bytes", stray},
        {"truncated", {good.begin(), good.begin() + good.size() / 2}},
        {"damaged", damaged},
        {"header only", {good.begin(), good.begin() + 20}},
    };
    for (const auto& c : cases) {
        expectSameAsWhole(c.bytes, c.name);
    }
}

TEST(FilterWhileDecoding, LeavesTurnedAndOtherPicturesToTheWholePictureWay) {
    const BgrxImage picture = busyPicture(16, 8, 3);
    GreyImageSink sink;
    EXPECT_FALSE(FilterJpegWhileDecoding(bytesOf(JpegBytesOf(picture, 90, 6)), "t.jpg", {}, sink));
    EXPECT_FALSE(FilterJpegWhileDecoding(bytesOf(JpegBytesOf(picture, 90, 2)), "m.jpg", {}, sink));
    EXPECT_FALSE(
        FilterJpegWhileDecoding(std::vector<std::uint8_t>{0x89, 'P', 'N', 'G'}, "p.png", {}, sink));
    EXPECT_TRUE(sink.image.empty());  // nothing was begun
    EXPECT_TRUE(FilterJpegWhileDecoding(bytesOf(JpegBytesOf(picture, 90, 1)), "u.jpg", {}, sink));
}

}  // namespace
