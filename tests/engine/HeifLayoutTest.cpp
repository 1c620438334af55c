// What a HEIF file's boxes say is checked before anything is decoded: a layout that cannot make
// its whole picture is refused with its reason, and a grid is charged for all that its tiles
// make, not for the crop it shows.
#include "base/RuntimeError.h"
#include "engine/PictureLoader.h"
#include "engine/formats/PictureProbe.h"
#include "support/ByteViews.h"
#include "support/HeifGrids.h"
#include "support/TestPictures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

BgrxImage tiles(int width, int height) {
    return MakePicture(width, height, [](int x, int y) { return quint32(x * 2) << 16 | y * 2; });
}

QByteArray gridOf(const std::function<void(HeifGrid&)>& change, bool avif = false) {
    HeifGrid grid;
    grid.avif = avif;
    change(grid);
    return HeifGridBytesOf(tiles(grid.columns * grid.tileWidth, grid.rows * grid.tileHeight), grid);
}

TEST(HeifLayout, WhatCannotMakeTheWholePictureIsRefusedBeforeDecoding) {
    struct Case {
        const char* what;
        QByteArray file;
        std::string reason;
        bool unsupported = false;
    };
    QByteArray overlay = gridOf([](HeifGrid&) {});
    overlay.replace(overlay.indexOf("grid"), 4, "iovl");
    const QByteArray whole = gridOf([](HeifGrid&) {}, true);
    const Case cases[] = {
        {"an output larger than its tiles cover (a border no tile paints)",
         gridOf([](HeifGrid& g) { g.width = g.height = 200; }),
         "its grid of 2 x 2 tiles of 64 x 64 states an output of 200 x 200"},
        {"an output a whole column short", gridOf([](HeifGrid& g) { g.width = 64; }),
         "states an output of 64 x 128"},
        {"an ispe smaller than the grid's output",
         gridOf([](HeifGrid& g) { g.statedWidth = g.statedHeight = 64; }),
         "states 64 x 64 pixels (ispe), its picture is 128 x 128"},
        {"a clean aperture beyond the picture",
         gridOf([](HeifGrid& g) { g.cropWidth = g.cropHeight = 130; }),
         "reaches beyond the 128 x 128 picture"},
        {"a tile's data beyond the file's end, the mdat box's size kept",
         whole.left(whole.size() - 9), "lie beyond the file's end"},
        {"a tile's data beyond the file's end",
         [&] {
             QByteArray cut = whole.left(whole.size() - 9);
             const qsizetype mdat = cut.lastIndexOf("mdat") - 4;
             const quint32 size = quint32(cut.size() - mdat);
             for (int k = 0; k < 4; ++k) {
                 cut[mdat + k] = static_cast<char>(size >> (24 - 8 * k));
             }
             return cut;
         }(),
         "lie beyond the file's end"},
        {"an overlay", overlay, "its picture is of type 'iovl', which is not read", true},
        {"more tiles than libheif decodes",
         gridOf(
             [](HeifGrid& g) {
                 g.columns = 50;
                 g.rows = 40;
                 g.tileWidth = g.tileHeight = 16;
                 g.oneTile = true;
             },
             true),
         "its grid of 50 x 40 tiles; at most 1998 tiles are decoded", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PictureProbe probe = ProbePicture(BytesOf(c.file));
        EXPECT_NE((c.unsupported ? probe.refused : probe.truncation).find(c.reason),
                  std::string::npos)
            << "truncation: " << probe.truncation << "; refused: " << probe.refused;
        try {
            DecodePicture(BytesOf(c.file), "grid.heic");
            ADD_FAILURE() << "decoded";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), ErrorNumber::InvalidPicture);
            EXPECT_NE(e.description().find(c.reason), std::string::npos) << e.description();
        }
    }
}

// Bytes appended after a whole file (phones append their own) are no part of the picture: the
// file converts as it would without them, whatever they begin with.
TEST(HeifLayout, BytesAppendedToAWholeFileAreLeftAlone) {
    const QByteArray whole = gridOf([](HeifGrid&) {});
    const BgrxImage picture = DecodePicture(BytesOf(whole), "grid.heic");
    for (const QByteArray& tail :
         {QByteArray(100, '\x5a'), QByteArray("\0\0\x10\0mdat", 8), QByteArray(3, '\0')}) {
        const BgrxImage got = DecodePicture(BytesOf(whole + tail), "grid.heic");
        ASSERT_EQ(got.height(), picture.height());
        for (int y = 0; y < picture.height(); ++y) {
            ASSERT_EQ(std::memcmp(got.row(y), picture.row(y), 4 * std::size_t(picture.width())), 0)
                << "row " << y << " after " << tail.toHex().toStdString();
        }
    }
}

// A small file whose tiles make 512 x 512 pixels to show 32 x 32 is charged for the 512 x 512 its
// decoder makes (libheif's RGB planes alone take 3 bytes a pixel), in memory and in time.
TEST(HeifLayout, AGridIsChargedForAllItsTilesMake) {
    const QByteArray cropped = gridOf([](HeifGrid& g) {
        g.columns = g.rows = 8;
        g.oneTile = true;
        g.cropWidth = g.cropHeight = 32;
    });
    const PictureProbe probe = ProbePicture(BytesOf(cropped));
    ASSERT_TRUE(probe.truncation.empty() && probe.refused.empty()) << probe.truncation;
    EXPECT_EQ(probe.width, 32);
    EXPECT_EQ(probe.height, 32);
    EXPECT_EQ(probe.pieces.count, 64u);
    EXPECT_GE(probe.workingBytes(), 3u * 512 * 512);
    const PictureProbe alone = ProbePicture(BytesOf(gridOf([](HeifGrid& g) {
        g.columns = g.rows = 1;
        g.tileWidth = g.tileHeight = 64;
    })));
    EXPECT_GE(probe.costEstimate(std::uint64_t(cropped.size())),
              32 * alone.costEstimate(std::uint64_t(cropped.size())));
}

}  // namespace
