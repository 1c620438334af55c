#include "base/RuntimeError.h"
#include "engine/ConversionEngine.h"
#include "engine/MemoryBudget.h"
#include "engine/PictureLoader.h"
#include "engine/formats/Orientation.h"
#include "engine/formats/PictureProbe.h"
#include "engine/output/JpegWriter.h"
#include "filter/BlackWhiteFilter.h"
#include "support/CameraPictures.h"
#include "support/HeifGrids.h"
#include "support/TestPictures.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

namespace {

// Four colours in quarters, so that any turn or mirror shows.
constexpr quint32 kQuarters[4] = {0xD02020, 0x20C040, 0x3040D0, 0xC0C0C0};

BgrxImage quarters(int width, int height) {
    return MakePicture(width, height, [=](int x, int y) {
        return kQuarters[(x < width / 2 ? 0 : 1) + (y < height / 2 ? 0 : 2)];
    });
}

int channel(quint32 c, int k) {
    return static_cast<int>(c >> (16 - 8 * k) & 0xFF);
}

// A raw converter's colours are its own (white balance, colour matrix, tone curve): what must
// hold is which of red, green and blue leads, or that none does for grey.
bool sameKindOfColour(quint32 got, quint32 wanted) {
    const auto lead = [](quint32 c) {
        int best = 0;
        for (int k = 1; k < 3; ++k) {
            best = channel(c, k) > channel(c, best) ? k : best;
        }
        return best;
    };
    const auto spread = [](quint32 c) {
        const int lo = std::min({channel(c, 0), channel(c, 1), channel(c, 2)});
        const int hi = std::max({channel(c, 0), channel(c, 1), channel(c, 2)});
        return hi - lo;
    };
    if (spread(wanted) < 8) {
        return spread(got) < 48;
    }
    return lead(got) == lead(wanted) && spread(got) >= 48;
}

struct Format {
    const char* name;
    PictureType type;
    std::function<QByteArray(const BgrxImage&, int orientation)> make;
    int tolerance;  // per channel at the quarters' centres; -1: the kind of colour only
};

const Format kFormats[] = {
    {"HEIC", PictureType::Heif,
     [](const BgrxImage& p, int o) { return HeifBytesOf(p, false, 8, o); }, 10},
    {"HEIC 10-bit", PictureType::Heif,
     [](const BgrxImage& p, int o) { return HeifBytesOf(p, false, 10, o); }, 10},
    {"AVIF", PictureType::Heif,
     [](const BgrxImage& p, int o) { return HeifBytesOf(p, true, 8, o); }, 10},
    {"AVIF 10-bit", PictureType::Heif,
     [](const BgrxImage& p, int o) { return AvifencBytesOf(p, 10, o); }, 10},
    {"AVIF 12-bit", PictureType::Heif,
     [](const BgrxImage& p, int o) { return AvifencBytesOf(p, 12, o); }, 10},
    {"JPEG XL lossless", PictureType::Jxl,
     [](const BgrxImage& p, int o) { return JxlBytesOf(p, true, 8, o); }, 0},
    {"JPEG XL 16-bit lossless", PictureType::Jxl,
     [](const BgrxImage& p, int o) { return JxlBytesOf(p, true, 16, o); }, 0},
    {"JPEG XL", PictureType::Jxl,
     [](const BgrxImage& p, int o) { return JxlBytesOf(p, false, 8, o); }, 6},
    {"DNG", PictureType::Raw, [](const BgrxImage& p, int o) { return DngBytesOf(p, 12, o); }, -1},
    {"DNG 16-bit", PictureType::Raw, [](const BgrxImage& p, int o) { return DngBytesOf(p, 16, o); },
     -1},
};

RuntimeError failureOf(const QString& path) {
    try {
        LoadPicture(path);
    } catch (const RuntimeError& e) {
        return e;
    }
    return RuntimeError(0, "it loaded");
}

// Each format, upright and turned a quarter (and mirrored), read by its type from the content
// whatever the file is called: the header's size, the picture upright, its colours; and the
// engine's output is the filter's result of that picture, as for any other type.
TEST(CameraPictures, EachFormatLoadsUprightWithItsColours) {
    QTemporaryDir dir;
    const QString path = dir.filePath("picture.jpg");
    const BgrxImage stored = quarters(64, 48);
    for (const Format& f : kFormats) {
        for (const int orientation : {1, 6, 7}) {
            if (f.type == PictureType::Heif && orientation == 7 &&
                std::string(f.name).find("-bit") != std::string::npos) {
                continue;  // this libheif cannot mirror 10-bit pictures (below)
            }
            SCOPED_TRACE(std::string(f.name) + ", orientation " + std::to_string(orientation));
            const QByteArray bytes = f.make(stored, orientation);
            const PictureProbe probe = ProbePicture(
                {reinterpret_cast<const std::uint8_t*>(bytes.data()), std::size_t(bytes.size())});
            EXPECT_EQ(probe.type, f.type);
            const BgrxImage upright = Orient(quarters(64, 48), orientation);
            EXPECT_EQ(probe.uprightWidth(), upright.width());
            EXPECT_EQ(probe.uprightHeight(), upright.height());
            WriteBytes(path, bytes);
            const BgrxImage p = LoadPicture(path);
            ASSERT_EQ(p.width(), upright.width());
            ASSERT_EQ(p.height(), upright.height());
            for (const auto& [fx, fy] :
                 {std::pair{1, 1}, std::pair{3, 1}, std::pair{1, 3}, std::pair{3, 3}}) {
                const int x = p.width() * fx / 4;
                const int y = p.height() * fy / 4;
                const quint32 got = ColourAt(p, x, y);
                const quint32 wanted = ColourAt(upright, x, y);
                EXPECT_TRUE(f.tolerance < 0 ? sameKindOfColour(got, wanted)
                                            : Near(got, wanted, f.tolerance))
                    << "at " << x << "," << y << ": " << std::hex << got << " for " << wanted;
            }
            PictureJob job;
            job.sourcePath = path;
            job.carryCaptureData = false;
            const std::atomic<bool> abandoned{false};
            MemoryBudget budget(std::uint64_t(1) << 30);
            PictureOutcome outcome = ConvertPicture(job, {{}, 85, dir.path()}, abandoned, budget);
            ASSERT_FALSE(outcome.failed()) << outcome.failure.description();
            CommitOutputFile(*outcome.file);
            const EncodedBytes wanted = EncodeGreyJpeg(ApplyBlackWhiteFilter(p, {}), 85);
            QFile written(outcome.outputPath);
            ASSERT_TRUE(written.open(QIODevice::ReadOnly));
            EXPECT_EQ(written.readAll(), QByteArray(reinterpret_cast<const char*>(wanted.data()),
                                                    static_cast<qsizetype>(wanted.size())));
        }
    }
}

// The HEIF file with the width its header states (in every ispe box) changed.
QByteArray statingWidth(QByteArray heif, quint32 width) {
    for (qsizetype at = heif.indexOf("ispe"); at > 0; at = heif.indexOf("ispe", at + 1)) {
        for (int k = 0; k < 4; ++k) {
            heif[at + 8 + k] = static_cast<char>(width >> (24 - 8 * k));
        }
    }
    return heif;
}

// A file cut short fails, naming the cause; one whose header states a size over the limits is
// refused before it is decoded.
TEST(CameraPictures, CutShortOrTooLargeFails) {
    QTemporaryDir dir;
    const QString path = dir.filePath("picture.heic");
    for (const Format& f : kFormats) {
        SCOPED_TRACE(f.name);
        const QByteArray whole = f.make(quarters(64, 48), 1);
        for (const double kept : {0.3, 0.7, 0.98}) {
            WriteBytes(path, whole.left(static_cast<qsizetype>(whole.size() * kept)));
            const RuntimeError e = failureOf(path);
            EXPECT_EQ(e.number(), ErrorNumber::InvalidPicture) << kept << ": " << e.description();
        }
        WriteBytes(path, f.type == PictureType::Heif ? statingWidth(whole, 8200)
                                                     : f.make(quarters(8200, 64), 1));
        const RuntimeError e = failureOf(path);
        EXPECT_EQ(e.number(), ErrorNumber::OutOfMemory) << e.description();
        EXPECT_NE(e.description().find("8200"), std::string::npos) << e.description();
    }
}

// 8-bit pictures come from libheif as planes of red, green and blue, which the loader interleaves
// itself (libheif's interleaving takes longer than the rest of the conversion): the same colours
// as libheif's interleaved RGB, for each matrix, range and chroma sampling.
TEST(CameraPictures, HeifColourIsLibheifsColour) {
    const BgrxImage picture = MakePicture(37, 29, [](int x, int y) {
        return (x * 7 % 256) << 16 | (y * 9 % 256) << 8 | ((x + y) * 5 % 256);
    });
    for (const bool avif : {false, true}) {
        for (const char* chroma : {"420", "422", "444"}) {
            for (const int matrix : {0, 1, 6, 9}) {
                for (const bool full : {true, false}) {
                    if (matrix == 0 && (std::string(chroma) != "444" || !full)) {
                        continue;  // the identity stores G, B, R whole (the encoder's rule)
                    }
                    SCOPED_TRACE(std::string(avif ? "AVIF " : "HEIC ") + chroma + ", matrix " +
                                 std::to_string(matrix) + (full ? ", full" : ", limited"));
                    const QByteArray bytes =
                        HeifBytesOf(picture, avif, 8, 1, 90, {}, {matrix, full, chroma});
                    const BgrxImage ours =
                        DecodePicture({reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                       std::size_t(bytes.size())},
                                      "p");
                    const BgrxImage theirs = LibheifColour(bytes);
                    ASSERT_EQ(ours.width(), theirs.width());
                    ASSERT_EQ(ours.height(), theirs.height());
                    int worst = 0;
                    for (int y = 0; y < ours.height(); ++y) {
                        for (int x = 0; x < 4 * ours.width(); ++x) {
                            worst = std::max(worst, std::abs(ours.row(y)[x] - theirs.row(y)[x]));
                        }
                    }
                    EXPECT_LE(worst, 1);
                }
            }
        }
    }
}

// What may not pass: a plain TIFF from a Nikon or Sony scanner is a TIFF, not a raw file; a
// HEIF whose coded picture is not the size its header states fails (the memory was charged for
// the stated one); alpha over white, straight or premultiplied.
TEST(CameraPictures, ScannerTiffsHeaderSizesAndAlpha) {
    const auto bytesOf = [](const QByteArray& b) {
        return std::span(reinterpret_cast<const std::uint8_t*>(b.data()), std::size_t(b.size()));
    };
    const auto tiffBy = [](const char* make) { return GreyTiffBytes(64, 40, make); };
    const BgrxImage plain = DecodePicture(bytesOf(tiffBy("Canon")), "canon.tif");
    for (const char* make : {"NIKON", "NIKON CORPORATION", "SONY"}) {
        const QByteArray tiff = tiffBy(make);
        EXPECT_EQ(ProbePicture(bytesOf(tiff)).type, PictureType::Tiff) << make;
        const BgrxImage p = DecodePicture(bytesOf(tiff), "scan.tif");
        EXPECT_EQ(ColourAt(p, 40, 20), ColourAt(plain, 40, 20)) << make;
    }

    QTemporaryDir dir;
    const QString path = dir.filePath("p.heic");
    WriteBytes(path, statingWidth(HeifBytesOf(quarters(64, 48), false), 60));
    const RuntimeError e = failureOf(path);
    EXPECT_EQ(e.number(), ErrorNumber::InvalidPicture);
    EXPECT_NE(e.description().find("states 60 x 64 pixels (ispe), its picture is 64 x 64"),
              std::string::npos)
        << e.description();

    for (const bool premultiplied : {false, true}) {
        // Red at a third: straight, (85, 0, 0) shows a third of red; premultiplied, full red.
        const BgrxImage p = DecodePicture(
            bytesOf(HeifWithAlphaBytes(16, 16, 0x550000, 85, premultiplied)), "alpha.heic");
        EXPECT_TRUE(Near(ColourAt(p, 8, 8), premultiplied ? 0xFFAAAA : 0xC6AAAA, 2))
            << premultiplied << " " << std::hex << ColourAt(p, 8, 8);
    }
}

// Every way a DNG stores its sensor data gives the picture of the same samples stored plain in one
// strip: each strip and tile in its place, none left out.
TEST(CameraPictures, EveryDngLayoutGivesTheSamePicture) {
    const BgrxImage stored = MakePicture(150, 100, [](int x, int y) {
        return quint32((x * 7 + y * 3) & 0xFF) << 16 | quint32(((x ^ y) * 5) & 0xFF) << 8 |
               quint32((x * y / 4) & 0xFF);
    });
    const auto decoded = [](const QByteArray& b) {
        return DecodePicture(
            {reinterpret_cast<const std::uint8_t*>(b.data()), std::size_t(b.size())}, "p.dng");
    };
    const BgrxImage wanted = decoded(DngBytesOf(stored, 12));
    struct Case {
        const char* name;
        DngLayout layout;
    };
    const Case cases[] = {
        {"plain 12-bit", {false, 12}},
        {"plain, 4 strips", {false, 16, 4}},
        {"plain 12-bit, 3 strips, big-endian", {false, 12, 3, 0, false, true}},
        {"plain, 32-pixel tiles", {false, 16, 1, 32}},
        {"plain 12-bit, 48-pixel tiles below a preview", {false, 12, 1, 48, true}},
        {"lossless JPEG, one strip", {true, 12}},
        {"lossless JPEG, 3 strips", {true, 16, 3}},
        {"lossless JPEG, 7 strips of two components, big-endian", {true, 12, 7, 0, false, true, 2}},
        {"lossless JPEG, 64-pixel tiles", {true, 12, 1, 64}},
        {"lossless JPEG, 144-pixel tiles", {true, 16, 1, 144}},
        {"lossless JPEG, 32-pixel tiles of two components below a preview",
         {true, 16, 1, 32, true, false, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BgrxImage got = decoded(DngBytesOf(stored, c.layout, 12));
        ASSERT_EQ(got.width(), wanted.width());
        ASSERT_EQ(got.height(), wanted.height());
        int differing = 0;
        for (int y = 0; y < got.height(); ++y) {
            differing += std::memcmp(got.row(y), wanted.row(y), 4 * std::size_t(got.width())) != 0;
        }
        EXPECT_EQ(differing, 0) << "rows differ";
    }
    // Lossy JPEG of the colours: each layout as one strip, but for the JPEG's own blocks (of a
    // smooth picture, where they barely show).
    const BgrxImage smooth = MakePicture(150, 100, [](int x, int y) {
        return quint32(x * 255 / 150) << 16 | quint32(y * 255 / 100) << 8 | 0x80;
    });
    DngLayout lossy;
    lossy.lossyJpeg = true;
    const BgrxImage lossyWanted = decoded(DngBytesOf(smooth, lossy));
    for (const auto& [strips, tile] : {std::pair{3, 0}, std::pair{1, 32}, std::pair{1, 144}}) {
        SCOPED_TRACE("lossy JPEG, " + std::to_string(strips) + " strips, tiles of " +
                     std::to_string(tile));
        lossy.strips = strips;
        lossy.tile = tile;
        const BgrxImage got = decoded(DngBytesOf(smooth, lossy));
        ASSERT_EQ(got.width(), lossyWanted.width());
        ASSERT_EQ(got.height(), lossyWanted.height());
        int far = 0;
        for (int y = 0; y < got.height(); ++y) {
            for (int x = 0; x < got.width(); ++x) {
                far += !Near(ColourAt(got, x, y), ColourAt(lossyWanted, x, y), 6);
            }
        }
        EXPECT_EQ(far, 0) << "pixels differ";
    }
    // LibRaw's decoder would wrap a tile's rows at the picture's edge.
    try {
        decoded(DngBytesOf(stored, {true, 16, 1, 160}, 12));
        ADD_FAILURE() << "a JPEG tile wider than the picture is decoded";
    } catch (const RuntimeError& e) {
        EXPECT_NE(e.description().find("not supported"), std::string::npos) << e.description();
    }
}

// LibRaw reads a colour filter pattern of 36 entries as a 6 x 6 X-Trans one, soundly only after a
// 6 x 6 repeat; otherwise its reader jumps into nothing. Such a file is refused, and an X-Trans
// pattern still decodes.
TEST(CameraPictures, AColourPatternThatCrashesLibRawIsRefused) {
    const auto le16 = [](const QByteArray& b, qsizetype at) {
        return int(std::uint8_t(b[at])) | int(std::uint8_t(b[at + 1])) << 8;
    };
    for (const int repeat : {6, 2}) {
        SCOPED_TRACE(repeat);
        // X-Trans demosaicing takes pictures of at least 512 x 512.
        QByteArray dng = DngBytesOf(quarters(516, 516), 12);
        // The entries of the first directory, the pattern's 36 values after the file's end.
        const int entries = le16(dng, 8);
        for (int i = 0; i < entries; ++i) {
            const qsizetype e = 10 + 12 * i;
            if (le16(dng, e) == 33421) {
                dng[e + 8] = char(repeat);
                dng[e + 10] = char(repeat);
            } else if (le16(dng, e) == 33422) {
                const auto end = quint32(dng.size());
                dng[e + 4] = char(36);
                for (int k = 0; k < 4; ++k) {
                    dng[e + 8 + k] = char(end >> (8 * k) & 0xFF);
                }
            }
        }
        // X-Trans: red 0, green 1, blue 2.
        dng += QByteArray::fromHex(
            "010100010102"
            "010102010100"
            "020001000201"
            "010102010100"
            "010100010102"
            "000201020001");
        try {
            const BgrxImage p = DecodePicture(
                {reinterpret_cast<const std::uint8_t*>(dng.data()), std::size_t(dng.size())},
                "x.dng");
            EXPECT_EQ(repeat, 6);
            EXPECT_EQ(p.width(), 516);
        } catch (const RuntimeError& e) {
            EXPECT_EQ(repeat, 2) << e.description();
            EXPECT_NE(e.description().find("36 entries"), std::string::npos) << e.description();
        }
    }
}

// A grid as tall as the limits allow loads: libheif refuses a grid whose side is as long as the
// limit it is given.
TEST(CameraPictures, AGridAsTallAsTheLimitsAllowLoads) {
    HeifGrid tall;
    tall.columns = 1;
    tall.rows = 129;
    tall.width = 64;
    tall.height = kFilterMaxHeight;
    tall.oneTile = true;
    const QByteArray bytes = HeifGridBytesOf(quarters(64, 64), tall);
    const BgrxImage p = DecodePicture(
        {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())},
        "tall.heic");
    EXPECT_EQ(p.width(), 64);
    EXPECT_EQ(p.height(), kFilterMaxHeight);
}

// An AV1 frame may be coded at a size of its own, smaller than its sequence header's: a grid's
// tile so coded fails as corrupt, where libheif would paste it into part of its place and leave
// the rest of the canvas unpainted. The same tiles coded whole load.
TEST(CameraPictures, AnAv1FrameOfAnotherSizeThanItsItemFailsAsCorrupt) {
    QTemporaryDir dir;
    const QString path = dir.filePath("resized.avif");
    struct Case {
        int columns;
        int rows;
        int denominator;
    };
    for (const Case c : {Case{2, 2, 8}, Case{2, 2, 16}, Case{2, 1, 12}, Case{1, 1, 9}}) {
        SCOPED_TRACE(std::to_string(c.columns) + " x " + std::to_string(c.rows) + " by 8 / " +
                     std::to_string(c.denominator));
        HeifGrid grid;
        grid.avif = true;
        grid.columns = c.columns;
        grid.rows = c.rows;
        grid.frameDenominator = c.denominator;
        WriteBytes(path, HeifGridBytesOf(quarters(128, 128), grid));
        if (c.denominator == 8) {
            const BgrxImage p = LoadPicture(path);
            EXPECT_EQ(p.width(), 128);
            continue;
        }
        const RuntimeError e = failureOf(path);
        EXPECT_EQ(e.number(), ErrorNumber::InvalidPicture);
        EXPECT_NE(e.description().find("corrupt"), std::string::npos) << e.description();
    }
}

// What the library cannot do is said as such.
TEST(CameraPictures, AMirroredTenBitHeifIsNotSupported) {
    QTemporaryDir dir;
    const QString path = dir.filePath("mirrored.heic");
    WriteBytes(path, HeifBytesOf(quarters(64, 48), false, 10, 2));
    const RuntimeError e = failureOf(path);
    EXPECT_EQ(e.number(), ErrorNumber::InvalidPicture);
    EXPECT_NE(e.description().find("not supported"), std::string::npos) << e.description();
}

// `avif` (made with CICP 1/13/6, whose three codes lie in a row in each AV1 sequence header)
// with each of its sequence headers stating `codes` instead.
QByteArray withColourCodes(QByteArray avif, std::uint32_t codes) {
    const auto bit = [&](qsizetype at) { return (std::uint8_t(avif[at / 8]) >> (7 - at % 8)) & 1; };
    int found = 0;
    for (qsizetype at = 0; at + 24 <= 8 * avif.size(); ++at) {
        std::uint32_t v = 0;
        for (int k = 0; k < 24; ++k) {
            v = v << 1 | std::uint32_t(bit(at + k));
        }
        if (v != 0x010D06) {
            continue;
        }
        ++found;
        for (int k = 0; k < 24; ++k) {
            const qsizetype b = (at + k) / 8;
            const int mask = 1 << (7 - (at + k) % 8);
            avif[b] = char((codes >> (23 - k) & 1) != 0 ? avif[b] | mask : avif[b] & ~mask);
        }
    }
    EXPECT_GE(found, 1) << "no sequence header states 1/13/6";
    return avif;
}

// An AV1 stream whose colour codes name nothing (libaom hands them on in its enums unchecked) fails
// as corrupt, and is read without taking them for the enums' values (which the sanitizers see).
TEST(CameraPictures, ColourCodesAnAv1StreamLeavesUnnamedFailCleanly) {
    QTemporaryDir dir;
    const QString path = dir.filePath("codes.avif");
    const QByteArray avif = AvifencBytesOf(quarters(64, 48), 8, 1, {"--cicp", "1/13/6"});
    for (const std::uint32_t codes : {0x410D06u, 0x01F006u, 0x010D26u}) {
        WriteBytes(path, withColourCodes(avif, codes));
        const RuntimeError e = failureOf(path);
        EXPECT_EQ(e.number(), ErrorNumber::InvalidPicture) << std::hex << codes;
        EXPECT_NE(e.description().find("corrupt"), std::string::npos) << e.description();
    }
}

}  // namespace
