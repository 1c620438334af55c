#include "base/RuntimeError.h"
#include "engine/PictureLoader.h"
#include "engine/formats/Orientation.h"
#include "engine/formats/PngDecoder.h"
#include "support/RunTool.h"
#include "support/TestPictures.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

namespace {

class PictureLoaderTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(name); }

    QString save(const char* name, const QImage& image, const char* format, int quality = -1) {
        QImageWriter writer(path(name), format);
        writer.setQuality(quality);
        EXPECT_TRUE(writer.write(image)) << name << ": " << writer.errorString().toStdString();
        return path(name);
    }

    // The load's failure: its number and description.
    RuntimeError failure(const QString& file) {
        try {
            LoadPicture(file);
        } catch (const RuntimeError& e) {
            return e;
        }
        ADD_FAILURE() << file.toStdString() << " loaded";
        return RuntimeError(0, "");
    }
};

// A 40 × 20 picture: left half red, right half blue, a green square at the top left.
QImage quadrants(QImage::Format format) {
    QImage image(40, 20, format);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 40; ++x) {
            image.setPixelColor(x, y, x < 8 && y < 8 ? Qt::green : x < 20 ? Qt::red : Qt::blue);
        }
    }
    return image;
}

TEST_F(PictureLoaderTest, ReadsEveryFormatAtItsNaturalSize) {
    const struct {
        const char* name;
        const char* format;
        QImage::Format pixels;
        int quality;
        int tolerance;
    } cases[] = {
        {"a.png", "png", QImage::Format_RGB32, -1, 0},
        {"a16.png", "png", QImage::Format_RGBA64, -1, 0},
        {"grey.png", "png", QImage::Format_Grayscale8, -1, 0},
        {"a.bmp", "bmp", QImage::Format_RGB32, -1, 0},
        {"a.tif", "tiff", QImage::Format_RGB32, -1, 0},
        {"a.webp", "webp", QImage::Format_RGB32, 100, 2},
        {"a.ico", "ico", QImage::Format_ARGB32, -1, 0},
    };
    for (const auto& c : cases) {
        const QImage source = quadrants(c.pixels);
        const BgrxImage p = LoadPicture(save(c.name, source, c.format, c.quality));
        ASSERT_EQ(p.width(), 40) << c.name;
        ASSERT_EQ(p.height(), 20) << c.name;
        for (auto [x, y] : {std::pair{2, 2}, std::pair{15, 15}, std::pair{35, 5}}) {
            const quint32 expected = source.pixel(x, y) & 0xFFFFFF;
            EXPECT_TRUE(Near(ColourAt(p, x, y), expected, c.tolerance))
                << c.name << " at " << x << "," << y << ": " << std::hex << ColourAt(p, x, y)
                << " vs " << expected;
        }
    }
}

TEST_F(PictureLoaderTest, ReadsJpegStraightIntoTheLayout) {
    const BgrxImage source = MakePicture(64, 48, [](int x, int y) {
        return x < 32 ? 0xFF2010 : y < 24 ? 0x10FF20 : 0x2010FF;
    });
    WriteBytes(path("a.jpg"), JpegBytesOf(source, 95));
    const BgrxImage p = LoadPicture(path("a.jpg"));
    ASSERT_EQ(p.width(), 64);
    ASSERT_EQ(p.height(), 48);
    EXPECT_TRUE(Near(ColourAt(p, 10, 10), 0xFF2010, 8));
    EXPECT_TRUE(Near(ColourAt(p, 50, 10), 0x10FF20, 8));
    EXPECT_TRUE(Near(ColourAt(p, 50, 40), 0x2010FF, 8));
}

TEST_F(PictureLoaderTest, PaletteAndTransparencyAreMadePlainColour) {
    QImage indexed(4, 1, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255)});
    indexed.setPixel(0, 0, 0);
    indexed.setPixel(1, 0, 1);
    indexed.setPixel(2, 0, 0);
    indexed.setPixel(3, 0, 1);
    BgrxImage p = LoadPicture(save("palette.png", indexed, "png"));
    EXPECT_EQ(ColourAt(p, 0, 0), 0xFF0000u);
    EXPECT_EQ(ColourAt(p, 1, 0), 0x0000FFu);

    QImage alpha(3, 1, QImage::Format_ARGB32);
    alpha.setPixel(0, 0, qRgba(0, 0, 0, 0));      // clear: white shows
    alpha.setPixel(1, 0, qRgba(255, 0, 0, 255));  // opaque red
    alpha.setPixel(2, 0, qRgba(255, 0, 0, 128));  // half red over white
    p = LoadPicture(save("alpha.png", alpha, "png"));
    EXPECT_EQ(ColourAt(p, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(ColourAt(p, 1, 0), 0xFF0000u);
    EXPECT_TRUE(Near(ColourAt(p, 2, 0), 0xFF7F7F, 1)) << std::hex << ColourAt(p, 2, 0);
}

TEST_F(PictureLoaderTest, SixteenBitColourBecomesEightBits) {
    QImage deep(2, 1, QImage::Format_RGBX64);
    deep.setPixelColor(0, 0, QColor::fromRgba64(0x8080, 0x0000, 0xFFFF));
    deep.setPixelColor(1, 0, QColor::fromRgba64(0x1234, 0xFEDC, 0x0101));
    const BgrxImage p = LoadPicture(save("deep.png", deep, "png"));
    EXPECT_EQ(ColourAt(p, 0, 0), 0x8000FFu);
    EXPECT_TRUE(Near(ColourAt(p, 1, 0), 0x12FE01, 1)) << std::hex << ColourAt(p, 1, 0);
}

TEST_F(PictureLoaderTest, GifGivesItsFirstFrame) {
    // Two frames of one pixel: red, then blue.
    // GIF89a, 1 × 1, a global table of two colours: red, blue.
    QByteArray bytes = QByteArray::fromHex("47494638396101000100800000ff00000000ff");
    bytes += QByteArray::fromHex("2c0000000001000100000202440100");  // frame 1: colour 0
    bytes += QByteArray::fromHex("2c00000000010001000002024c0100");  // frame 2: colour 1
    bytes += QByteArray::fromHex("3b");
    WriteBytes(path("two.gif"), bytes);
    const BgrxImage p = LoadPicture(path("two.gif"));
    ASSERT_EQ(p.width(), 1);
    EXPECT_EQ(ColourAt(p, 0, 0), 0xFF0000u);
}

TEST_F(PictureLoaderTest, IcoGivesItsLargestPicture) {
    const auto png = [](int side, QColor colour) {
        QImage image(side, side, QImage::Format_ARGB32);
        image.fill(colour);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    };
    const QByteArray small = png(16, Qt::red);
    const QByteArray large = png(48, Qt::blue);
    QByteArray ico;
    QDataStream s(&ico, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s << quint16(0) << quint16(1) << quint16(2);
    s << quint8(16) << quint8(16) << quint8(0) << quint8(0) << quint16(1) << quint16(32)
      << quint32(small.size()) << quint32(6 + 2 * 16);
    s << quint8(48) << quint8(48) << quint8(0) << quint8(0) << quint16(1) << quint16(32)
      << quint32(large.size()) << quint32(6 + 2 * 16 + small.size());
    ico += small + large;
    WriteBytes(path("two.ico"), ico);
    const BgrxImage p = LoadPicture(path("two.ico"));
    EXPECT_EQ(p.width(), 48);
    EXPECT_EQ(ColourAt(p, 5, 5), 0x0000FFu);
}

TEST_F(PictureLoaderTest, CmykJpegBecomesRgb) {
    // Stored inverted: C = 255 means no cyan ink. No cyan, full magenta and yellow: red.
    WriteBytes(path("cmyk.jpg"), CmykJpegBytes(16, 16, 255, 0, 0, 255));
    const BgrxImage p = LoadPicture(path("cmyk.jpg"));
    EXPECT_TRUE(Near(ColourAt(p, 8, 8), 0xFF0000, 4)) << std::hex << ColourAt(p, 8, 8);
    WriteBytes(path("cmyk2.jpg"), CmykJpegBytes(16, 16, 255, 255, 255, 128));  // half black
    EXPECT_TRUE(Near(ColourAt(LoadPicture(path("cmyk2.jpg")), 8, 8), 0x808080, 4));
}

TEST_F(PictureLoaderTest, TheExifOrientationTurnsThePictureUpright) {
    // Stored 32 × 16: the left half black, the right half white.
    const BgrxImage stored = MakePicture(32, 16, [](int x, int) { return x < 16 ? 0 : 0xFFFFFF; });
    const struct {
        int orientation;
        bool bigEndian;
        int width, height;
        std::pair<int, int> black, white;  // a point of each half, upright
    } cases[] = {
        {1, false, 32, 16, {4, 8}, {28, 8}}, {2, true, 32, 16, {28, 8}, {4, 8}},
        {3, false, 32, 16, {28, 8}, {4, 8}}, {4, true, 32, 16, {4, 8}, {28, 8}},
        {5, false, 16, 32, {8, 4}, {8, 28}}, {6, true, 16, 32, {8, 4}, {8, 28}},
        {7, false, 16, 32, {8, 28}, {8, 4}}, {8, false, 16, 32, {8, 28}, {8, 4}},
    };
    for (const auto& c : cases) {
        WriteBytes(path("o.jpg"), JpegBytesOf(stored, 95, c.orientation, c.bigEndian));
        const BgrxImage p = LoadPicture(path("o.jpg"));
        ASSERT_EQ(p.width(), c.width) << c.orientation;
        ASSERT_EQ(p.height(), c.height) << c.orientation;
        EXPECT_TRUE(Near(ColourAt(p, c.black.first, c.black.second), 0, 12)) << c.orientation;
        EXPECT_TRUE(Near(ColourAt(p, c.white.first, c.white.second), 0xFFFFFF, 12))
            << c.orientation;
    }
}

TEST(Orient, MovesEveryPixelWhereTheOrientationSays) {
    // Stored 3 × 2:  a b c / d e f, each pixel its letter.
    const auto stored = [] {
        return MakePicture(3, 2, [](int x, int y) { return quint32('a' + 3 * y + x); });
    };
    const struct {
        int orientation;
        const char* upright;  // rows of the upright picture, separated by "/"
    } cases[] = {
        {1, "abc/def"},  {2, "cba/fed"},  {3, "fed/cba"},  {4, "def/abc"},
        {5, "ad/be/cf"}, {6, "da/eb/fc"}, {7, "fc/eb/da"}, {8, "cf/be/ad"},
    };
    for (const auto& c : cases) {
        const BgrxImage p = Orient(stored(), c.orientation);
        std::string rows;
        for (int y = 0; y < p.height(); ++y) {
            if (y > 0)
                rows += '/';
            for (int x = 0; x < p.width(); ++x) rows += char(ColourAt(p, x, y));
        }
        EXPECT_EQ(rows, c.upright) << c.orientation;
    }
}

TEST_F(PictureLoaderTest, BadFilesFailWithTheirCause) {
    const BgrxImage source = MakePicture(64, 64, [](int x, int y) { return (x * 4) << 8 | y * 4; });
    const QByteArray jpeg = JpegBytesOf(source, 90);
    WriteBytes(path("truncated.jpg"), jpeg.left(jpeg.size() / 2));
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(Qt::red);
    save("whole.png", image, "png");
    QFile whole(path("whole.png"));
    whole.open(QIODevice::ReadOnly);
    WriteBytes(path("truncated.png"), whole.readAll().left(60));
    WriteBytes(path("empty.jpg"), {});
    WriteBytes(path("text.jpg"), "these are words, not a picture\n");
    WriteBytes(path("drawing.wmf"), QByteArray::fromHex("d7cdc69a0000000000000000"));
    QDir(dir.path()).mkdir("folder.jpg");
    ::mkfifo(path("pipe.jpg").toLocal8Bit().constData(), 0600);
    QFile::link("/dev/zero", path("zero.jpg"));

    const struct {
        const char* name;
        int number;
        const char* cause;
    } cases[] = {
        {"truncated.jpg", 481, "truncated or corrupt"},
        {"truncated.png", 481, "truncated or corrupt"},
        {"empty.jpg", 481, "the file is empty"},
        {"text.jpg", 481, "not a picture"},
        {"drawing.wmf", 481, "not supported"},
        {"missing.jpg", 53, "No such file or directory"},
        {"folder.jpg", 75, "folder"},
        {"pipe.jpg", 75, "pipe"},
        {"zero.jpg", 75, "device"},
    };
    for (const auto& c : cases) {
        const RuntimeError e = failure(path(c.name));
        EXPECT_EQ(e.number(), c.number) << c.name << ": " << e.description();
        EXPECT_NE(e.description().find(path(c.name).toStdString()), std::string::npos)
            << e.description();
        EXPECT_NE(e.description().find(c.cause), std::string::npos) << e.description();
    }
}

TEST_F(PictureLoaderTest, AHarmlessJpegWarningStillLoads) {
    const BgrxImage source = MakePicture(32, 32, [](int x, int) { return x < 16 ? 0 : 0xFFFFFF; });
    QByteArray jpeg = JpegBytesOf(source, 90);
    jpeg.insert(jpeg.size() - 2, QByteArray("\x12\x34\x56", 3));  // stray bytes before the end
    WriteBytes(path("stray.jpg"), jpeg);
    const BgrxImage p = LoadPicture(path("stray.jpg"));
    EXPECT_EQ(p.width(), 32);
    EXPECT_TRUE(Near(ColourAt(p, 28, 16), 0xFFFFFF, 12));
}

// A JPEG header that claims the given size, with no picture data behind it.
QByteArray jpegHeaderClaiming(int width, int height) {
    QByteArray b = QByteArray::fromHex("ffd8ffc0000b08");
    b += char(height >> 8);
    b += char(height & 0xFF);
    b += char(width >> 8);
    b += char(width & 0xFF);
    b += QByteArray::fromHex(
        "010111"
        "00");
    b += QByteArray::fromHex(
        "ffda000801010000"
        "3f00");  // start of scan: the header ends here
    b += QByteArray::fromHex("ffd9");
    return b;
}

// A PNG chunk with its length and a correct checksum.
QByteArray pngChunk(const QByteArray& type, const QByteArray& data) {
    const QByteArray body = type + data;
    quint32 crc = 0xFFFFFFFF;
    for (char ch : body) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
    }
    QByteArray chunk;
    QDataStream s(&chunk, QIODevice::WriteOnly);
    s << quint32(data.size());
    chunk += body;
    QDataStream t(&chunk, QIODevice::Append);
    t << (crc ^ 0xFFFFFFFF);
    return chunk;
}

// A PNG header that claims the given size (8-bit colour).
QByteArray pngHeaderClaiming(quint32 width, quint32 height) {
    QByteArray ihdr;
    QDataStream s(&ihdr, QIODevice::WriteOnly);
    s << width << height << quint8(8) << quint8(2) << quint8(0) << quint8(0) << quint8(0);
    return QByteArray::fromHex("89504e470d0a1a0a") + pngChunk("IHDR", ihdr);
}

TEST_F(PictureLoaderTest, HugePicturesAreRefusedFromTheirHeaderAtOnce) {
    WriteBytes(path("huge.jpg"), jpegHeaderClaiming(65000, 65000));
    WriteBytes(path("wide.jpg"), jpegHeaderClaiming(8193, 16));
    WriteBytes(path("huge.png"), pngHeaderClaiming(100000, 100000));
    WriteBytes(path("tall.png"), pngHeaderClaiming(16, 8194));
    for (const char* name : {"huge.jpg", "wide.jpg", "huge.png", "tall.png"}) {
        QElapsedTimer clock;
        clock.start();
        const RuntimeError e = failure(path(name));
        EXPECT_LT(clock.elapsed(), 1000) << name;
        EXPECT_EQ(e.number(), 7) << name << ": " << e.description();
        EXPECT_NE(e.description().find("at most 8192 x 8193"), std::string::npos)
            << e.description();
    }
}

TEST_F(PictureLoaderTest, PicturesAtTheLimitsLoad) {
    const BgrxImage wide = MakePicture(8192, 2, [](int, int) { return 0x808080; });
    WriteBytes(path("wide.jpg"), JpegBytesOf(wide, 50));
    EXPECT_EQ(LoadPicture(path("wide.jpg")).width(), 8192);
    // Turned upright by its Exif block, 8193 × 16 stored is 16 × 8193: allowed.
    const BgrxImage tall = MakePicture(8193, 16, [](int, int) { return 0x808080; });
    WriteBytes(path("tall.jpg"), JpegBytesOf(tall, 50, 6));
    EXPECT_EQ(LoadPicture(path("tall.jpg")).height(), 8193);
}

}  // namespace

namespace {

QByteArray littleEndian(quint32 value, int bytes) {
    QByteArray b;
    for (int k = 0; k < bytes; ++k) b += char(value >> (8 * k) & 0xFF);
    return b;
}

// An 8-bit grey-palette bitmap of the stated size holding `data` as its pixels (compressed with
// RLE8 when `rle`).
QByteArray bitmap(int width, int height, const QByteArray& data, bool rle = false) {
    QByteArray palette;
    for (int i = 0; i < 256; ++i) palette += QByteArray(3, char(i)) + '\0';
    const int offset = 14 + 40 + palette.size();
    return "BM" + littleEndian(offset + data.size(), 4) + littleEndian(0, 4) +
           littleEndian(offset, 4) + littleEndian(40, 4) + littleEndian(width, 4) +
           littleEndian(height, 4) + littleEndian(1, 2) + littleEndian(8, 2) +
           littleEndian(rle ? 1 : 0, 4) + littleEndian(data.size(), 4) + QByteArray(8, 0) +
           littleEndian(256, 4) + littleEndian(0, 4) + palette + data;
}

TEST_F(PictureLoaderTest, NoPictureIsMadeFromBytesTheFileDoesNotHold) {
    const BgrxImage source = MakePicture(64, 64, [](int x, int y) { return (x * 4) << 8 | y * 4; });
    const QByteArray jpeg = JpegBytesOf(source, 90);
    // Stray bytes after the start marker: still a JPEG, so our decoder and its checks judge it.
    WriteBytes(path("stray-cut.jpg"), jpeg.left(2) + '\0' + jpeg.mid(2, jpeg.size() / 2));
    WriteBytes(path("twelve-bit.jpg"), QByteArray::fromHex("ffd8ffc0000b0c00100010010111"
                                                           "00ffda0008010100003f00ffd9"));
    WriteBytes(path("rows-missing.bmp"), bitmap(300, 300, QByteArray(5 * 300, '\x80')));
    WriteBytes(path("huge-claim.bmp"), bitmap(8192, 8193, {}));
    // A GIF whose first frame's data stops within a block that says 10 bytes follow.
    WriteBytes(path("cut.gif"), QByteArray("GIF89a") + littleEndian(64, 2) + littleEndian(64, 2) +
                                    QByteArray::fromHex("800000000000ffffff2c00000000") +
                                    littleEndian(64, 2) + littleEndian(64, 2) +
                                    QByteArray::fromHex("00020a2c0000"));
    // A text chunk that claims 2 GB in a file of less than a kilobyte.
    WriteBytes(path("chunk.png"),
               pngHeaderClaiming(16, 16) + QByteArray::fromHex("7ffffff0") + "tEXt" + "a");

    const struct {
        const char* name;
        const char* cause;
    } cases[] = {
        {"stray-cut.jpg", "JPEG file is truncated or corrupt"},
        {"twelve-bit.jpg", "not supported (12-bit JPEG)"},
        {"rows-missing.bmp", "truncated or corrupt (its header states 91078 bytes"},
        {"huge-claim.bmp", "truncated or corrupt"},
        {"cut.gif", "truncated or corrupt"},
        {"chunk.png", "truncated or corrupt (its header states 2147483"},
    };
    for (const auto& c : cases) {
        QElapsedTimer clock;
        clock.start();
        const RuntimeError e = failure(path(c.name));
        EXPECT_EQ(e.number(), 481) << c.name << ": " << e.description();
        EXPECT_NE(e.description().find(c.cause), std::string::npos) << e.description();
        EXPECT_LT(clock.elapsed(), 500) << c.name;
    }

    // The whole file with the stray byte loads as the file without it does.
    WriteBytes(path("stray.jpg"), jpeg.left(2) + '\0' + jpeg.mid(2));
    WriteBytes(path("plain.jpg"), jpeg);
    const BgrxImage stray = LoadPicture(path("stray.jpg"));
    const BgrxImage plain = LoadPicture(path("plain.jpg"));
    EXPECT_EQ(0, std::memcmp(stray.data(), plain.data(), plain.byteCount()));
}

TEST_F(PictureLoaderTest, PixelsACompressedBitmapSkipsAreBlackNotOldMemory) {
    // RLE8: a jump to the far corner, then the end; no pixel is written.
    WriteBytes(path("skips.bmp"), bitmap(64, 64, QByteArray::fromHex("0002003f0001"), true));
    for (int round = 0; round < 3; ++round) {
        {
            QImage leftover(64, 64, QImage::Format_Indexed8);  // freed memory that held grey
            leftover.fill(0xAB);
        }
        const BgrxImage p = LoadPicture(path("skips.bmp"));
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x) {
                ASSERT_EQ(ColourAt(p, x, y), 0u) << x << ", " << y;
            }
        }
    }
}

TEST_F(PictureLoaderTest, AJpegThatAsksForMoreWorkThanAnyPhotoIsRefused) {
    const struct {
        int width, height, scans;
        const char* cause;  // nothing: it loads
    } cases[] = {
        {1024, 1024, 60, nullptr},
        {1024, 1024, 250, "more than 200 scans"},
        {2048, 2048, 130, "pass over the picture's coefficients more than 10 times"},
        {2048, 2048, 0, "more work than a file of its size may"},
        {1024, 1024, -1, nullptr},
    };
    for (const auto& c : cases) {
        // 0 scans: 34 that refine every coefficient one bit at a time, arithmetic-coded; -1: one
        // arithmetic-coded scan
        WriteBytes(path("scans.jpg"), c.scans > 0    ? ManyScanJpegBytes(c.width, c.height, c.scans)
                                      : c.scans == 0 ? RefiningJpegBytes(c.width, c.height)
                                                     : ArithmeticJpegBytes(c.width, c.height));
        if (!c.cause) {
            EXPECT_EQ(LoadPicture(path("scans.jpg")).width(), c.width);
            continue;
        }
        const RuntimeError e = failure(path("scans.jpg"));
        EXPECT_NE(e.description().find("would take too long to decode"), std::string::npos);
        EXPECT_NE(e.description().find(c.cause), std::string::npos) << e.description();
    }
}

// Bytes this process has read from files so far.
long long bytesRead() {
    QFile io("/proc/self/io");
    io.open(QIODevice::ReadOnly);
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:")) {
            return line.mid(6).trimmed().toLongLong();
        }
    }
    ADD_FAILURE() << "no rchar in /proc/self/io";
    return 0;
}

TEST_F(PictureLoaderTest, AVideoIsRefusedFromItsFirstBytesWithoutReadingTheRest) {
    QFile video(path("clip.jpg"));  // a camera folder's video, misnamed
    ASSERT_TRUE(video.open(QIODevice::WriteOnly));
    video.write(QByteArray::fromHex("0000001c667479706d703432"));
    ASSERT_TRUE(video.resize(qint64(300) << 20));  // sparse: costs no disk
    video.close();
    const long long before = bytesRead();
    const RuntimeError e = failure(path("clip.jpg"));
    EXPECT_NE(e.description().find("not a picture"), std::string::npos) << e.description();
    EXPECT_LT(bytesRead() - before, 1 << 20);
}

TEST_F(PictureLoaderTest, WhatTheLibrariesSayGoesWithTheFileNotToTheTerminal) {
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(Qt::red);
    QBuffer tiff;
    tiff.open(QIODevice::WriteOnly);
    ASSERT_TRUE(QImageWriter(&tiff, "tiff").write(image));
    WriteBytes(path("cut.tif"), tiff.data().left(tiff.data().size() / 2));
    // Whole chunks, but the pixel data stops halfway.
    const QByteArray row = '\0' + QByteArray(3 * 16, '\x40');  // no filter, then the samples
    const QByteArray pixels = qCompress(row.repeated(16)).mid(4);
    WriteBytes(path("short.png"), pngHeaderClaiming(16, 16) +
                                      pngChunk("IDAT", pixels.left(pixels.size() / 2)) +
                                      pngChunk("IEND", {}));
    const struct {
        const char* name;
        const char* reason;
    } cases[] = {
        {"cut.tif", "TIFFReadDirectory"},
        {"short.png", "Not enough image data"},
    };
    for (const auto& c : cases) {
        std::fflush(stderr);
        const int terminal = ::dup(STDERR_FILENO);
        QFile said(path("stderr.txt"));
        said.open(QIODevice::WriteOnly | QIODevice::Truncate);
        ::dup2(said.handle(), STDERR_FILENO);
        const RuntimeError e = failure(path(c.name));
        std::fflush(stderr);
        ::dup2(terminal, STDERR_FILENO);
        ::close(terminal);
        said.close();
        QFile written(path("stderr.txt"));
        written.open(QIODevice::ReadOnly);
        EXPECT_EQ(written.readAll(), QByteArray()) << c.name;
        EXPECT_NE(e.description().find(c.reason), std::string::npos) << e.description();
    }
}

// Another program saves over a file, in place and a piece at a time, while it is loaded again
// and again: each load gives one of the two pictures whole, or fails saying why; never a mix.
// A file that waits its turn open, its head let go, reads whole as it is when it is read: shorter
// than its head, longer, and written over (in place, or shorter) while it waited.
TEST(PictureLoader, AFileWhoseHeadWasLetGoReadsWhole) {
    QTemporaryDir dir;
    const QString path = dir.filePath("waiting.jpg");
    const auto bytesOf = [](int side) {
        return JpegBytesOf(MakePicture(side, side, [](int x, int y) {
            return static_cast<quint32>(x * 2654435761u ^ y * 40503u) & 0xFFFFFF;
        }));
    };
    const QByteArray small = bytesOf(40), large = bytesOf(400);
    ASSERT_LT(small.size(), qsizetype(PictureFile::kHeadBytes));
    ASSERT_GT(large.size(), qsizetype(PictureFile::kHeadBytes));
    const struct {
        QByteArray opened, read;
    } cases[] = {{small, small}, {large, large}, {small, large}, {large, small}};
    for (const auto& c : cases) {
        WriteBytes(path, c.opened);
        OpenedPicture opened = OpenPicture(path);
        opened.file.dropHead();
        if (c.read != c.opened) {
            WriteBytes(path, c.read);  // in place: the same file, other bytes
        }
        const PictureContent content = ReadPicture(std::move(opened), path);
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(content.bytes.data()),
                             qsizetype(content.bytes.size())),
                  c.read);
    }
}

TEST(PictureLoader, AFileRewrittenWhileItIsReadIsNeverMixed) {
    QTemporaryDir dir;
    const QString path = dir.filePath("saved.jpg");
    QByteArray versions[2];
    BgrxImage pictures[2];
    for (int v = 0; v < 2; ++v) {
        const BgrxImage made = MakePicture(480, 360, [v](int x, int y) {
            return static_cast<quint32>(v ? (x * 7) ^ (y * 3) : (x + y) * 0x010203);
        });
        versions[v] = JpegBytesOf(made, 90);
        WriteBytes(path, versions[v]);
        pictures[v] = LoadPicture(path);
    }
    std::atomic<bool> done{false};
    std::thread writer([&] {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY);
        for (int v = 0; !done; v = 1 - v) {
            const QByteArray& bytes = versions[v];
            for (qsizetype at = 0; at < bytes.size() && !done; at += 4096) {
                ::pwrite(fd, bytes.constData() + at, std::min<qsizetype>(4096, bytes.size() - at),
                         at);
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
            ::ftruncate(fd, bytes.size());
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        ::close(fd);
    });
    int mixed = 0, whole = 0;
    for (int i = 0; i < 60; ++i) {
        try {
            const BgrxImage picture = LoadPicture(path);
            const auto same = [&](const BgrxImage& p) {
                return p.width() == picture.width() && p.height() == picture.height() &&
                       std::memcmp(p.data(), picture.data(),
                                   static_cast<std::size_t>(p.stride()) * p.height()) == 0;
            };
            (same(pictures[0]) || same(pictures[1]) ? whole : mixed) += 1;
        } catch (const RuntimeError&) {
        }
    }
    done = true;
    writer.join();
    EXPECT_EQ(mixed, 0);
    EXPECT_GT(whole, 0);
}

}  // namespace

namespace {

std::uint32_t crc32Of(const QByteArray& bytes) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (const char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int k = 0; k < 8; ++k) {
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
        }
    }
    return ~crc;
}

void putBigEndian(QByteArray& b, qsizetype at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) {
        b[at + k] = static_cast<char>(v >> (24 - 8 * k));
    }
}

// A GIF of `width` x `height` whose frame's LZW codes make only `pixels` pixels: one 9-bit code a
// pixel, the table cleared before it grows.
QByteArray gifHolding(int width, int height, int pixels) {
    QByteArray b("GIF89a");
    b += char(width & 0xFF) + QByteArray(1, char(width >> 8));
    b += char(height & 0xFF) + QByteArray(1, char(height >> 8));
    b += QByteArray::fromHex("f70000");  // a global table of 256 colours
    for (int i = 0; i < 256; ++i) {
        b += QByteArray(3, char(i));
    }
    b += QByteArray::fromHex("2c00000000");
    b += char(width & 0xFF) + QByteArray(1, char(width >> 8));
    b += char(height & 0xFF) + QByteArray(1, char(height >> 8));
    b += '\0';
    b += char(8);  // the code size
    QByteArray data;
    std::uint32_t bits = 0;
    int held = 0;
    const auto put = [&](unsigned code) {
        bits |= code << held;
        for (held += 9; held >= 8; held -= 8, bits >>= 8) {
            data += char(bits & 0xFF);
        }
    };
    for (int i = 0; i < pixels; ++i) {
        if (i % 250 == 0) {
            put(256);
        }
        put(static_cast<unsigned>(i % 200));
    }
    put(257);
    if (held > 0) {
        data += char(bits & 0xFF);
    }
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const QByteArray block = data.mid(at, 255);
        b += char(block.size()) + block;
    }
    return b + QByteArray::fromHex("003b");
}

// An 8-bit run-length bitmap: each row one run of its own colour.
QByteArray rleBitmap(int width, int height) {
    QByteArray data;
    for (int y = 0; y < height; ++y) {
        data += char(width) + QByteArray(1, char(y * 9)) + QByteArray(2, '\0');
    }
    data += QByteArray::fromHex("0001");
    QByteArray info(40, '\0');
    const auto le = [](QByteArray& b, int at, std::uint32_t v) {
        for (int k = 0; k < 4; ++k) b[at + k] = char(v >> (8 * k));
    };
    le(info, 0, 40);
    le(info, 4, width);
    le(info, 8, height);
    info[12] = 1;
    info[14] = 8;
    le(info, 16, 1);  // RLE8
    QByteArray palette;
    for (int i = 0; i < 256; ++i) {
        palette += char(i) + QByteArray(1, char(255 - i)) + char(i / 2) + '\0';
    }
    QByteArray file("BM");
    file += QByteArray(12, '\0');
    le(file, 2, 14 + 40 + 1024 + data.size());
    le(file, 10, 14 + 40 + 1024);
    return file + info + palette + data;
}

// A plain 40 x 30 picture as Qt writes it in `format`.
QByteArray plainIn(const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(0x804020);
    EXPECT_TRUE(image.save(&buffer, format));
    return bytes;
}

// A TIFF that Qt writes, with one tag of its first directory changed.
QByteArray tiffWith(std::uint16_t tag, std::uint16_t becomes, std::uint32_t value = 0) {
    QByteArray tiff = plainIn("tiff");
    const auto u16 = [&](qsizetype at) {
        return std::uint16_t(std::uint8_t(tiff[at]) | std::uint8_t(tiff[at + 1]) << 8);
    };
    if (!tiff.startsWith("II*")) {  // Qt's TIFF plugin not found: nothing to read below
        ADD_FAILURE() << "Qt wrote no TIFF";
        return tiff;
    }
    const qsizetype first = u16(4) | qsizetype(u16(6)) << 16;
    for (int i = 0; i < u16(first); ++i) {
        const qsizetype entry = first + 2 + 12 * i;
        if (u16(entry) == tag) {
            tiff[entry] = char(becomes & 0xFF);
            tiff[entry + 1] = char(becomes >> 8);
            if (value != 0) {
                tiff[entry + 8] = char(value & 0xFF);
                tiff[entry + 9] = char(value >> 8);
            }
        }
    }
    return tiff;
}

// A compressed TIFF whose pixel data is garbled halfway: libtiff says so, and Qt's reader still
// returns a picture.
QByteArray garbledTiff() {
    QImage image(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            image.setPixel(x, y, qRgb(x * 4, y * 4, (x * y) & 0xFF));
        }
    }
    QByteArray tiff;
    QBuffer buffer(&tiff);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    writer.setCompression(1);  // LZW
    EXPECT_TRUE(writer.write(image));
    for (qsizetype at = 8 + (tiff.size() - 8) / 4; at < 8 + (tiff.size() - 8) / 2; ++at) {
        tiff[at] = char(0xFF);
    }
    return tiff;
}

// Data that does not fit its header fails with a reason, whatever reads it; nothing is made of
// the part that fits.
TEST_F(PictureLoaderTest, DataThatDoesNotFitItsHeaderFails) {
    const auto photo = [](int seed) {
        return JpegBytesOf(MakePicture(400, 300,
                                       [seed](int x, int y) {
                                           return static_cast<quint32>((x * (7 + seed)) ^
                                                                       (y * (3 + seed)) ^ (x * y));
                                       }),
                           90);
    };
    const QByteArray a = photo(0), b = photo(1);
    QByteArray halved = a;
    const qsizetype frame = halved.indexOf(QByteArray::fromHex("ffc0"));
    ASSERT_GT(frame, 0);
    halved[frame + 6] = static_cast<char>(150);  // 300 rows stated as 150
    halved[frame + 5] = 0;
    QByteArray png = plainIn("png");
    putBigEndian(png, 20, 15);  // 30 rows stated as 15, the checksum made again
    putBigEndian(png, 29, crc32Of(png.mid(12, 17)));
    // Whole, the same files load.
    WriteBytes(path("whole.gif"), gifHolding(40, 30, 1200));
    EXPECT_EQ(LoadPicture(path("whole.gif")).width(), 40);
    // Two frames, the first behind a graphic control extension whose block, stated as 15 bytes
    // instead of 4, swallows the first frame's descriptor: the reader would show the second.
    const QByteArray gif = gifHolding(40, 30, 1200);
    const QByteArray gifFrame = gif.mid(13 + 768, gif.size() - (13 + 768) - 1);
    const QByteArray swallowing = gif.left(13 + 768) + QByteArray::fromHex("21f90f00000000") +
                                  gifFrame + gifHolding(40, 30, 1200).mid(13 + 768);
    // Two PNG pictures, the larger listed in the directory as 1 x 1: the reader would choose the
    // smaller one as the largest.
    const auto pngOf = [](int side) {
        QImage image(side, side, QImage::Format_RGB32);
        image.fill(Qt::blue);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    };
    const QByteArray small = pngOf(16), large = pngOf(48);
    const QByteArray misdirected =
        QByteArray::fromHex("000001000200") + QByteArray::fromHex("10100000") + littleEndian(1, 2) +
        littleEndian(32, 2) + littleEndian(small.size(), 4) + littleEndian(38, 4) +
        QByteArray::fromHex("01010000") + littleEndian(1, 2) + littleEndian(32, 2) +
        littleEndian(large.size(), 4) + littleEndian(38 + small.size(), 4) + small + large;
    const QByteArray rle = rleBitmap(40, 30);
    WriteBytes(path("whole.bmp"), rle);
    EXPECT_EQ(LoadPicture(path("whole.bmp")).height(), 30);
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"joined.jpg", a.left(a.size() / 2) + b.mid(a.size() / 2)},
        {"halved.jpg", halved},
        {"half-frame.gif", gifHolding(40, 30, 600)},
        {"swallowed-frame.gif", swallowing},
        {"misdirected.ico", misdirected},
        {"cut-in-a-byte.xbm",
         "#define c_width 8\n#define c_height 2\nstatic char c_bits[] = {\n0x00, 0xf"},
        {"cut-runs.bmp", rle.left(rle.size() - 40)},
        {"halved.png", png},
        {"empty.xbm",
         "#define e_width 8192\n#define e_height 8193\nstatic char e_bits[] = {\n"
         "0x00, 0xff };\n"},
        {"width-twice.tif", tiffWith(257, 256)},
        {"garbled.tif", garbledTiff()},
    };
    for (const auto& c : cases) {
        WriteBytes(path(c.name), c.bytes);
        const RuntimeError e = failure(path(c.name));
        EXPECT_EQ(e.number(), ErrorNumber::InvalidPicture) << c.name;
        EXPECT_NE(e.description().find("corrupt"), std::string::npos) << e.description();
    }
}

}  // namespace

namespace {

// What decodes with another decoder than ours, whose work no bound holds, is refused before
// anything is decoded.
TEST_F(PictureLoaderTest, ContainersOfUnboundedDecodingAreRefused) {
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"film.mng", QByteArray::fromHex("8a4d4e470d0a1a0a0000001c4d484452")},
        {"frame.jng", QByteArray::fromHex("8b4a4e470d0a1a0a0000001e4a484452")},
        {"scanned.tif", tiffWith(259, 259, 7)},
    };
    for (const auto& c : cases) {
        WriteBytes(path(c.name), c.bytes);
        const RuntimeError e = failure(path(c.name));
        EXPECT_NE(e.description().find("the picture is not supported"), std::string::npos)
            << c.name << ": " << e.description();
    }
}

}  // namespace

namespace {

// A first look is the picture reduced by the decoder, upright: each pixel its block's average.
// Of a progressive file it reads only the first scans: one whose later scans are cut off gives
// its first look, and fails to load.
TEST_F(PictureLoaderTest, AQuickLookIsTheReducedPictureFromTheFirstScans) {
    const BgrxImage picture = MakePicture(640, 480, [](int x, int y) {
        return static_cast<quint32>(x * 255 / 639 << 16 | y * 255 / 479 << 8 | 0x80);
    });
    const QByteArray progressive = ProgressiveJpegBytesOf(picture, 90);
    const struct {
        const char* name;
        QByteArray bytes;
        int side;
        int width, height;  // of the first look; 0 for none
    } cases[] = {
        {"a.jpg", JpegBytesOf(picture, 90), 60, 80, 60},
        {"b.jpg", JpegBytesOf(picture, 90), 150, 160, 120},
        {"c.jpg", JpegBytesOf(picture, 90), 300, 320, 240},
        {"d.jpg", JpegBytesOf(picture, 90), 400, 0, 0},
        {"turned.jpg", JpegBytesOf(picture, 90, 6), 60, 60, 80},
        {"progressive.jpg", progressive, 60, 80, 60},
        {"cut.jpg", progressive.left(progressive.size() / 2), 60, 80, 60},
        {"e.png", plainIn("png"), 2, 0, 0},
    };
    for (const auto& c : cases) {
        WriteBytes(path(c.name), c.bytes);
        const BgrxImage look = QuickLook(ReadPicture(path(c.name)), path(c.name), c.side);
        ASSERT_EQ(look.width(), c.width) << c.name;
        ASSERT_EQ(look.height(), c.height) << c.name;
        if (look.empty()) {
            continue;
        }
        const int factor = 640 / std::max(look.width(), look.height());
        for (int y = 0; y < look.height(); y += 7) {
            for (int x = 0; x < look.width(); x += 5) {
                const bool turned = look.width() < look.height();
                // Orientation 6 turns clockwise: the look's (x, y) is the picture's (y, H - 1 - x).
                const int px = turned ? y : x, py = turned ? look.width() - 1 - x : y;
                int sum[3] = {};
                for (int k = 0; k < factor * factor; ++k) {
                    const quint32 colour =
                        ColourAt(picture, px * factor + k % factor, py * factor + k / factor);
                    for (int ch = 0; ch < 3; ++ch) {
                        sum[ch] += int(colour >> (8 * ch) & 0xFF);
                    }
                }
                const quint32 average = quint32(sum[2] / (factor * factor)) << 16 |
                                        quint32(sum[1] / (factor * factor)) << 8 |
                                        quint32(sum[0] / (factor * factor));
                ASSERT_TRUE(Near(ColourAt(look, x, y), average, 6))
                    << c.name << " at " << x << "," << y << ": " << std::hex << ColourAt(look, x, y)
                    << " for " << average;
            }
        }
    }
    EXPECT_EQ(failure(path("cut.jpg")).number(), ErrorNumber::InvalidPicture);
}

}  // namespace

namespace {

// A file opened for its header and then written over in place before it is read: what is read
// is the new file, with its own header, never the new bytes under the old header's sizes.
TEST(PictureLoader, AFileWrittenOverAfterItsHeaderWasReadIsReadAsItIsNow) {
    const auto noise = [](int x, int y) { return static_cast<quint32>((x * 7919) ^ (y * 104729)); };
    const QByteArray small = JpegBytesOf(MakePicture(40, 20, noise), 90);
    const QByteArray big = JpegBytesOf(MakePicture(600, 400, noise), 98);  // over the head
    ASSERT_GT(big.size(), qsizetype(PictureFile::kHeadBytes));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(QImage(30, 10, QImage::Format_RGB32).save(&buffer, "PNG"));
    QByteArray sameSize = small;
    sameSize[sameSize.size() - 3] = static_cast<char>(sameSize[sameSize.size() - 3] ^ 0x55);
    struct Case {
        const char* name;
        const QByteArray& before;
        const QByteArray& after;
    } cases[] = {{"unchanged", small, small},
                 {"grown over the head", small, big},
                 {"shrunk below the head", big, small},
                 {"another type", small, png},
                 {"same size, other bytes", small, sameSize}};
    QTemporaryDir dir;
    for (const Case& c : cases) {
        const QString path = dir.filePath("p");
        WriteBytes(path, c.before);
        OpenedPicture opened = OpenPicture(path);
        QFile over(path);  // the same file, written over in place
        ASSERT_TRUE(over.open(QIODevice::WriteOnly | QIODevice::Truncate));
        over.write(c.after);
        over.close();
        const PictureContent content = ReadPicture(std::move(opened), path);
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(content.bytes.data()),
                             qsizetype(content.bytes.size())),
                  c.after)
            << c.name;
        const PictureProbe now = ProbePicture(content.bytes.span());
        EXPECT_EQ(content.probe.type, now.type) << c.name;
        EXPECT_EQ(content.probe.width, now.width) << c.name;
        EXPECT_EQ(content.probe.height, now.height) << c.name;
    }
}

}  // namespace

namespace {

// A PNG decoded row by row tells of rows only once their pixels are final, in order, up to the
// last: each kind of sample (colour, alpha flattened a band at a time, grey, palette, 16 bits),
// and a file cut short, whose rows before the cut are those of the whole file. An interlaced
// file has no rows final before its last pass, so it tells of none.
TEST(PictureLoader, APngShowsOnlyRowsWhosePixelsAreFinal) {
    QTemporaryDir dir;
    QImage colour(300, 200, QImage::Format_ARGB32);
    for (int y = 0; y < colour.height(); ++y) {
        for (int x = 0; x < colour.width(); ++x) {
            colour.setPixel(x, y, qRgba(x, y, (x * y) & 0xFF, (x + 3 * y) & 0xFF));
        }
    }
    const auto png = [](const QImage& image) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        EXPECT_TRUE(image.save(&buffer, "PNG"));
        return bytes;
    };
    const QString ppm = dir.filePath("colour.ppm");
    colour.convertToFormat(QImage::Format_RGB888).save(ppm, "PPM");
    const ToolRun interlaced = RunTool("pnmtopng", {"-interlace", ppm});
    ASSERT_EQ(interlaced.exitCode, 0) << interlaced.err.toStdString();
    const QByteArray whole = png(colour.convertToFormat(QImage::Format_RGB32));
    const struct {
        const char* name;
        QByteArray file;
        bool cut, interlaced;
    } cases[] = {
        {"colour", whole, false, false},
        {"alpha", png(colour), false, false},
        {"grey", png(colour.convertToFormat(QImage::Format_Grayscale8)), false, false},
        {"palette", png(colour.convertToFormat(QImage::Format_Indexed8)), false, false},
        {"16 bits", png(colour.convertToFormat(QImage::Format_RGBA64)), false, false},
        {"cut short", whole.left(whole.size() * 3 / 5), true, false},
        {"interlaced", interlaced.out, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto span = [](const QByteArray& b) {
            return std::span(reinterpret_cast<const std::uint8_t*>(b.constData()),
                             std::size_t(b.size()));
        };
        const BgrxImage expected = DecodePng(span(c.cut ? whole : c.file), "expected.png");
        std::vector<int> told;
        const auto rowsDone = [&](const BgrxImage& picture, int rows) {
            if (!told.empty()) {
                EXPECT_GT(rows, told.back());
            }
            told.push_back(rows);
            for (int y = 0; y < rows; ++y) {
                ASSERT_EQ(std::memcmp(picture.row(y), expected.row(y), 4 * 300), 0) << y;
            }
        };
        try {
            const BgrxImage decoded = DecodePng(span(c.file), "shown.png", rowsDone);
            EXPECT_FALSE(c.cut);
            for (int y = 0; y < 200; ++y) {
                ASSERT_EQ(std::memcmp(decoded.row(y), expected.row(y), 4 * 300), 0) << y;
            }
        } catch (const RuntimeError&) {
            EXPECT_TRUE(c.cut);
        }
        if (c.interlaced) {
            EXPECT_TRUE(told.empty());
        } else if (c.cut) {
            ASSERT_FALSE(told.empty());
            EXPECT_LT(told.back(), 200);
        } else {
            ASSERT_GE(told.size(), 2u);
            EXPECT_EQ(told.back(), 200);
        }
    }
}

// Damaged, a PNG read band by band fails or loads exactly as it does read whole: cut at every
// 61st byte and at each of its last 20, or with its tail from there on zeroed. The rows it reported
// on the way are those of the picture it loads; of a file cut short, which fails, those of the
// whole file (a cut changes no byte before it). Zeroed bytes may decode into rows before the
// chunk's checksum fails the file: those are shown a moment before the failure, as any viewer shows
// them.
TEST(PictureLoader, ADamagedPngReadsAlikeBandByBandAndWhole) {
    QImage picture(150, 260, QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            picture.setPixel(x, y, qRgba(x * 7, y, x ^ y, 255 - (x + y) % 256));
        }
    }
    QByteArray file;
    QBuffer buffer(&file);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture.save(&buffer, "PNG"));
    const auto read = [](const QByteArray& bytes, const PngRowsDone& rowsDone) {
        try {
            return std::optional<BgrxImage>(
                DecodePng(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                    std::size_t(bytes.size())),
                          "damaged.png", rowsDone));
        } catch (const RuntimeError&) {
            return std::optional<BgrxImage>();
        }
    };
    std::vector<qsizetype> cuts;
    for (qsizetype at = 8; at < file.size(); at += 61) {
        cuts.push_back(at);
    }
    for (qsizetype at = file.size() - 20; at < file.size(); ++at) {
        cuts.push_back(at);  // the last chunk's checksum and the end chunk
    }
    for (const qsizetype at : cuts) {
        for (const bool zeroed : {false, true}) {
            SCOPED_TRACE((zeroed ? "zeroed from " : "cut at ") + std::to_string(at));
            const QByteArray damaged =
                zeroed ? file.left(at) + QByteArray(file.size() - at, '\0') : file.left(at);
            const std::optional<BgrxImage> whole = read(damaged, {});
            const std::optional<BgrxImage> intact = read(file, {});
            const BgrxImage* truth = whole ? &*whole : zeroed ? nullptr : &*intact;
            int told = 0;
            const std::optional<BgrxImage> banded =
                read(damaged, [&](const BgrxImage& shown, int rows) {
                    EXPECT_GT(rows, told);
                    told = rows;
                    for (int y = 0; truth != nullptr && y < rows; ++y) {
                        ASSERT_EQ(std::memcmp(shown.row(y), truth->row(y), 4 * 150), 0) << y;
                    }
                });
            ASSERT_EQ(whole.has_value(), banded.has_value());
            if (whole) {
                EXPECT_EQ(told, 260);
                for (int y = 0; y < 260; ++y) {
                    ASSERT_EQ(std::memcmp(whole->row(y), banded->row(y), 4 * 150), 0) << y;
                }
            }
        }
    }
}

}  // namespace
