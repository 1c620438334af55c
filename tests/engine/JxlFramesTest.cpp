// A JPEG XL's picture made of several frames: the frames of no duration before the first that
// lasts are blended under it, read and bounded before it is decoded; frames after it are never
// read.
#include "base/RuntimeError.h"
#include "engine/PictureLoader.h"
#include "engine/formats/JxlDecodeWork.h"
#include "engine/formats/PictureProbe.h"
#include "support/ByteViews.h"
#include "support/CameraPictures.h"
#include "support/TestPictures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

BgrxImage flat(int width, int height, quint32 colour) {
    return MakePicture(width, height, [=](int, int) { return colour; });
}

JxlLayout lossless() {
    JxlLayout layout;
    layout.lossless = true;
    return layout;
}

// On a 64 x 48 canvas: a whole red frame kept in slot 0, a green 16 x 16 one at (4, 4) put on it
// and kept in slot 2, both of no duration, and a blue 8 x 8 one at (40, 30) put on that, which
// lasts; then `after` more frames that do not show. With `exif`, in the container with an Exif
// box.
QByteArray layers(int after, const QByteArray& exif = {}) {
    std::vector<JxlFrame> frames;
    frames.push_back({flat(64, 48, 0xFF0000), 0, 0, 0, 0});
    frames.push_back({flat(16, 16, 0x00FF00), 4, 4, 0, 2, 0});
    frames.push_back({flat(8, 8, 0x0000FF), 40, 30, 10, 0, 2});
    for (int k = 0; k < after; ++k) {
        frames.push_back({flat(64, 48, 0xFFFFFF), 0, 0, 10});
    }
    JxlLayout layout = lossless();
    layout.exif = exif;
    return JxlFramesBytes(64, 48, frames, layout);
}

// `count` frames of no duration under one that lasts, on a small canvas.
QByteArray manyFrames(int count) {
    std::vector<JxlFrame> frames;
    for (int k = 0; k < count; ++k) {
        frames.push_back({flat(16, 16, 0x101010u * quint32(k % 15))});
    }
    frames.push_back({flat(16, 16, 0x808080), 0, 0, 10});
    return JxlFramesBytes(16, 16, frames, lossless());
}

TEST(JxlFrames, TheFirstPictureIsItsFramesBlendedAndTheProbeCountsThem) {
    for (const int after : {0, 3}) {
        SCOPED_TRACE(after);
        const QByteArray file = layers(after);
        const PictureProbe probe = ProbePicture(BytesOf(file));
        EXPECT_EQ(probe.width, 64);
        // Each frame's own pixels and the canvas it is blended on; slots 0 and 2 kept.
        EXPECT_EQ(probe.jxl.layeredPixels, 64u * 48 + 16 * 16 + 8 * 8 + 3 * 64 * 48);
        EXPECT_EQ(probe.jxl.largestFrame, 64u * 48);
        EXPECT_EQ(probe.jxl.keptCanvases, 2);
        const BgrxImage picture = DecodePicture(BytesOf(file), QStringLiteral("layers.jxl"));
        EXPECT_EQ(ColourAt(picture, 0, 0), 0xFF0000u);
        EXPECT_EQ(ColourAt(picture, 19, 19), 0x00FF00u);
        EXPECT_EQ(ColourAt(picture, 47, 37), 0x0000FFu);
        EXPECT_EQ(ColourAt(picture, 63, 47), 0xFF0000u);
    }
}

// The first frame's coding, read from its header, sets what the picture is charged: lossy in
// the modular mode costs far more than in VarDCT's blocks, noise more still.
TEST(JxlFrames, TheProbeTellsTheFirstFramesCoding) {
    const QByteArray exif("II*\0\x08\0\0\0\0\0\0\0\0\0", 14);
    const struct {
        const char* what;
        bool lossless, modular, noise, dcFrame, container;
        bool wantedModular, wantedNoise;
    } cases[] = {
        {"lossy", false, false, false, false, false, false, false},
        {"lossless", true, false, false, false, false, true, false},
        {"lossy modular", false, true, false, false, false, true, false},
        {"lossy with noise", false, false, true, false, false, false, true},
        {"lossy modular with noise", false, true, true, false, false, true, true},
        // The frame of block averages, modular itself, comes before the frame of blocks, whose
        // flags are not read: taken as the costlier.
        {"lossy after a frame of averages", false, false, false, true, false, false, true},
        {"lossy in the container", false, false, false, false, true, false, false},
        {"lossy modular in the container", false, true, false, false, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        JxlLayout layout;
        layout.lossless = c.lossless;
        layout.modular = c.modular;
        layout.noise = c.noise;
        layout.dcFrame = c.dcFrame;
        layout.exif = c.container ? exif : QByteArray();
        std::vector<JxlFrame> frames;
        frames.push_back({MakePicture(40, 30, [](int x, int y) { return quint32(x * y * 977); })});
        const PictureProbe probe = ProbePicture(BytesOf(JxlFramesBytes(40, 30, frames, layout)));
        ASSERT_TRUE(probe.truncation.empty()) << probe.truncation;
        EXPECT_EQ(probe.jxl.modular, c.wantedModular);
        EXPECT_EQ(probe.jxl.noise, c.wantedNoise);
        EXPECT_EQ(probe.jxl.splines, c.dcFrame);
        EXPECT_EQ(probe.jxl.lossy, !c.lossless);
    }
}

TEST(JxlFrames, AStillAndAFirstFrameThatLastsAreNoLayers) {
    std::vector<JxlFrame> frames;
    frames.push_back({flat(64, 48, 0x102030), 0, 0, 10});
    frames.push_back({flat(8, 8, 0x405060), 4, 4, 10});
    for (const QByteArray& file :
         {JxlBytesOf(flat(64, 48, 0x102030), true), JxlFramesBytes(64, 48, frames, lossless())}) {
        const PictureProbe probe = ProbePicture(BytesOf(file));
        EXPECT_EQ(probe.jxl.layeredPixels, 0u);
        EXPECT_EQ(probe.jxl.keptCanvases, 0);
    }
}

// A picture of more frames than the bound is refused before any is decoded; one of as many as it
// allows loads.
TEST(JxlFrames, APictureOfMoreThan256FramesIsRefused) {
    EXPECT_NO_THROW(DecodePicture(BytesOf(manyFrames(255)), QStringLiteral("frames.jxl")));
    try {
        DecodePicture(BytesOf(manyFrames(256)), QStringLiteral("frames.jxl"));
        ADD_FAILURE() << "a picture of 257 frames loaded";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), ErrorNumber::InvalidPicture);
        EXPECT_EQ(e.description(),
                  "Cannot load frames.jxl: the JPEG XL file would take too long "
                  "to decode (its first picture is made of more than 256 "
                  "frames)");
    }
}

// The boxes of a file in the container tell where it ends, however many frames follow the first
// picture, and where each part of its codestream lies; a bare codestream does not, and its
// frames after the first picture are not read.
TEST(JxlFrames, BoxesThatCannotBeWholeAreRefused) {
    const QByteArray bare = layers(3);
    const BgrxImage whole = DecodePicture(BytesOf(bare), QStringLiteral("bare.jxl"));
    const BgrxImage cut =
        DecodePicture(BytesOf(bare.left(bare.size() - 10)), QStringLiteral("cut"));
    for (int y = 0; y < whole.height(); ++y) {
        for (int x = 0; x < whole.width(); ++x) {
            ASSERT_EQ(ColourAt(cut, x, y), ColourAt(whole, x, y)) << x << ", " << y;
        }
    }
    // With an Exif box, libjxl's encoder puts each frame in a part of its own.
    const QByteArray boxed = layers(3, QByteArray("II*\0\x08\0\0\0\0\0\0\0\0\0", 14));
    ASSERT_NO_THROW(DecodePicture(BytesOf(boxed), QStringLiteral("boxed.jxl")));
    const qsizetype secondPart = boxed.indexOf("jxlp", boxed.indexOf("jxlp") + 4);
    const qsizetype lastPart = boxed.lastIndexOf("jxlp");
    ASSERT_GT(secondPart, 0);
    const auto renamed = [&](qsizetype at) { return QByteArray(boxed).replace(at, 4, "jxlq"); };
    const struct {
        const char* what;
        QByteArray bytes;
        const char* why;
    } cases[] = {
        {"cut in its last part", boxed.left(boxed.size() - 10), "the file ends within a box"},
        {"bytes after its last box", boxed + QByteArray(20, 'x'), "the file ends within a box"},
        {"a part passed over", renamed(secondPart),
         "the parts of its codestream are out of their order"},
        {"its last part passed over", renamed(lastPart),
         "the file ends before the last part of its codestream"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            DecodePicture(BytesOf(c.bytes), QStringLiteral("boxed.jxl"));
            ADD_FAILURE() << "converted";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), ErrorNumber::InvalidPicture);
            EXPECT_NE(e.description().find(c.why), std::string::npos) << e.description();
        }
    }
}

// The decoder's work is counted as libjxl hands it over, the same on any number of threads:
// honest files of every coding, frames of block averages among them, stay under a third of
// their budget, and frames libjxl does not report, which no header counts, are stopped.
QByteArray busyStill(int width, int height, const JxlLayout& layout) {
    std::vector<JxlFrame> frames;
    frames.push_back(
        {MakePicture(width, height, [](int x, int y) { return quint32(x * 131 + y * 977); })});
    return JxlFramesBytes(width, height, frames, layout);
}

TEST(JxlFrames, TheDecodersWorkCountsTheSameOnAnyThreadsAndUnreportedFramesAreStopped) {
    JxlLayout lossy;
    lossy.effort = 3;
    JxlLayout averages = lossy;
    averages.dcFrame = true;
    JxlLayout deep = lossless();
    deep.bits = 16;
    deep.extraChannels = 2;
    JxlLayout fast = lossless();
    fast.effort = 1;
    std::vector<JxlFrame> hidden;
    for (int k = 0; k < 40; ++k) {
        hidden.push_back({flat(300, 200, 0x010203u * quint32(k))});
    }
    hidden.push_back({flat(300, 200, 0x808080), 0, 0, 10});
    const struct {
        const char* what;
        QByteArray bytes;
        bool refused;
    } cases[] = {
        {"layers in slots", layers(2), false},
        {"lossy 16-bit with extra channels, turned",
         JxlBytesOf(flat(301, 203, 0x336699), false, 16, 6), false},
        {"lossless 16-bit with extra channels", busyStill(301, 203, deep), false},
        {"lossy after a frame of averages, 2049 x 9", busyStill(2049, 9, averages), false},
        {"40 frames not reported", JxlHideFrames(JxlFramesBytes(300, 200, hidden, fast), 40), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const JxlDecodeWork one = MeasureJxlDecodeWork(BytesOf(c.bytes), 1);
        for (const std::size_t threads : {1, 2, 8}) {
            const JxlDecodeWork work = MeasureJxlDecodeWork(BytesOf(c.bytes), threads);
            EXPECT_EQ(work.tasks, one.tasks) << threads << " threads";
            EXPECT_EQ(work.failure, one.failure) << threads << " threads";
        }
        if (c.refused) {
            EXPECT_GT(one.tasks, one.budget);
            EXPECT_NE(one.failure.find("would take too long to decode"), std::string::npos)
                << one.failure;
        } else {
            EXPECT_EQ(one.failure, "");
            EXPECT_GT(one.tasks, 0u);
            EXPECT_LT(one.tasks * 3, one.budget);
        }
    }
}

}  // namespace
