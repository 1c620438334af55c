#include "formats/FormatSamples.h"
#include "formats/samples/JxlStructure.h"
#include "formats/samples/SampleStructure.h"
#include "support/CameraPictures.h"
#include "support/TestPictures.h"

namespace {

// An Exif block (a TIFF structure) naming `orientation`, as a camera writes it.
QByteArray exifNaming(int orientation) {
    const QByteArray jpeg = JpegBytesOf(SamplePicture(8, 8), 90, orientation);
    const qsizetype at = jpeg.indexOf(QByteArray("Exif\0\0", 6)) + 6;
    const qsizetype length =
        static_cast<std::uint8_t>(jpeg[at - 8]) << 8 | static_cast<std::uint8_t>(jpeg[at - 7]);
    return jpeg.mid(at, length - 8);
}

BgrxImage flat(int width, int height, quint32 colour) {
    return MakePicture(width, height, [=](int, int) { return colour; });
}

JxlLayout lossless(int bits = 8) {
    JxlLayout layout;
    layout.lossless = true;
    layout.bits = bits;
    return layout;
}

JxlLayout lossy(int bits = 8) {
    JxlLayout layout;
    layout.bits = bits;
    return layout;
}

JxlLayout modular(JxlLayout layout) {
    layout.modular = true;
    return layout;
}

JxlLayout turned(JxlLayout layout, int orientation, bool withExif) {
    layout.orientation = orientation;
    if (withExif) {
        layout.exif = exifNaming(orientation);
    }
    return layout;
}

JxlLayout inContainer(JxlLayout layout) {
    layout.container = true;
    return layout;
}

QByteArray still(const BgrxImage& picture, const JxlLayout& layout) {
    std::vector<JxlFrame> frames;
    frames.push_back({MakePicture(picture.width(), picture.height(),
                                  [&](int x, int y) { return ColourAt(picture, x, y); })});
    return JxlFramesBytes(picture.width(), picture.height(), frames, layout);
}

// Under the first frame shown, a whole one and a smaller one of no duration, and the shown one
// smaller still, so that all three make its picture; then a whole frame and a small one that last.
QByteArray layeredAnimation(int width, int height, const JxlLayout& layout) {
    std::vector<JxlFrame> frames;
    frames.push_back({SamplePicture(width, height, 5), 0, 0, 0});
    frames.push_back({SamplePicture(40, 30, 6), 10, 20, 0});
    frames.push_back({SamplePicture(50, 40, 7), width - 50, height - 40, 10});
    frames.push_back({SamplePicture(width, height, 8), 0, 0, 10});
    frames.push_back({SamplePicture(30, 20, 9), 60, 50, 10});
    return JxlFramesBytes(width, height, frames, layout);
}

// Frames that each last: the first is shown alone; one reaches beyond the canvas.
QByteArray timedAnimation(int width, int height, const JxlLayout& layout) {
    std::vector<JxlFrame> frames;
    frames.push_back({SamplePicture(width, height, 10), 0, 0, 5});
    frames.push_back({SamplePicture(40, 30, 11), -8, -6, 5});
    frames.push_back({SamplePicture(width, height, 12), 0, 0, 5});
    return JxlFramesBytes(width, height, frames, layout);
}

// `count` frames of no duration, each a flat colour over the whole canvas, under a last one.
QByteArray manyLayers(int width, int height, int count) {
    std::vector<JxlFrame> frames;
    for (int k = 0; k < count; ++k) {
        frames.push_back({flat(width, height, 0x102030u * quint32(k % 7 + 1))});
    }
    frames.push_back({flat(width, height, 0x808080), 0, 0, 10});
    JxlLayout layout = lossy();
    layout.effort = 3;
    return JxlFramesBytes(width, height, frames, layout);
}

// Flat frames of no duration over a big canvas, each kept in a reference slot of its own.
QByteArray keptLayers(int side, const JxlLayout& layout) {
    std::vector<JxlFrame> frames;
    for (int k = 0; k < 4; ++k) {
        frames.push_back({flat(side, side, 0x204060u * quint32(k + 1)), 0, 0, 0, k});
    }
    frames.push_back({flat(side, side, 0x808080), 0, 0, 10});
    return JxlFramesBytes(side, side, frames, layout);
}

// A small frame at each of `count` places on a big canvas, under a last one.
QByteArray smallFrames(int side, int count) {
    std::vector<JxlFrame> frames;
    frames.push_back({flat(side, side, 0x404040)});
    for (int k = 0; k < count; ++k) {
        frames.push_back({flat(16, 16, 0x102030u * quint32(k % 7 + 1)), 16 * k, 8 * k});
    }
    frames.push_back({flat(16, 16, 0xFFFFFF), 0, 0, 10});
    return JxlFramesBytes(side, side, frames, lossy());
}

// A frame far bigger than the small canvas it is cut to, under a last one.
QByteArray overhangingFrame(int side, int frameSide) {
    std::vector<JxlFrame> frames;
    frames.push_back({flat(frameSide, frameSide, 0x336699), -frameSide / 2, -frameSide / 2});
    frames.push_back({flat(side, side, 0x808080), 0, 0, 10});
    JxlLayout layout = lossless();
    layout.effort = 3;
    return JxlFramesBytes(side, side, frames, layout);
}

// `count` flat frames of no duration over the canvas, each marked as one not to be shown while
// the file loads (a type libjxl decodes without reporting it), under a last one.
QByteArray unreportedFrames(int side, int count) {
    std::vector<JxlFrame> frames;
    for (int k = 0; k <= count; ++k) {
        frames.push_back(
            {flat(side, side, 0x010203u * quint32(k % 80)), 0, 0, k == count ? 1u : 0u});
    }
    JxlLayout layout = lossless();
    layout.effort = 1;
    return JxlHideFrames(JxlFramesBytes(side, side, frames, layout), count);
}

JxlLayout withExtraChannels(JxlLayout layout, int count) {
    layout.extraChannels = count;
    return layout;
}

}  // namespace

// JPEG XL: a bare codestream and in the container (with an Exif box), lossless and lossy (in
// VarDCT's blocks and in the modular mode), 8 and 16 bits, turned, with a small size header, and
// animated: frames of no duration under the first shown, frames smaller than the canvas and
// reaching beyond it. Sizes whose doubles still fit the
// size header's fields, and that no ratio of the header states.
std::vector<ContractSample> JxlSamples() {
    std::vector<ContractSample> samples{
        {"lossless 8-bit, 203 x 157", still(SamplePicture(203, 157), lossless())},
        {"lossy 8-bit, 150 x 101", still(SamplePicture(150, 101, 1), lossy())},
        {"lossy 16-bit, 97 x 131", still(SamplePicture(97, 131, 2), lossy(16))},
        {"lossless 16-bit turned (8), 71 x 45",
         still(SamplePicture(71, 45, 3), turned(lossless(16), 8, false))},
        {"lossy in the container with Exif, turned (6), 120 x 77",
         still(SamplePicture(120, 77, 4), turned(lossy(), 6, true))},
        {"lossless in the container, 88 x 61",
         still(SamplePicture(88, 61, 5), inContainer(lossless()))},
        {"lossy, small size header, 64 x 40", still(SamplePicture(64, 40, 6), lossy())},
        {"lossy in the modular mode, 91 x 67", still(SamplePicture(91, 67, 7), modular(lossy()))},
        {"animation, layers under the first shown, lossy, 101 x 75",
         layeredAnimation(101, 75, lossy())},
        {"animation, timed frames, 16-bit lossless in the container with Exif, 70 x 53",
         timedAnimation(70, 53, turned(lossless(16), 1, true))},
    };
    for (ContractSample& s : samples) {
        AddJxlStructure(s);
    }
    return samples;
}

std::vector<CostlySample> JxlCostlySamples() {
    JxlLayout fast = lossy();
    fast.effort = 3;
    JxlLayout fast16 = lossy(16);
    fast16.effort = 3;
    JxlLayout fastLossless = lossless(16);
    fastLossless.effort = 1;
    std::vector<CostlySample> samples{
        {"50 frames of no duration, 512 x 512", manyLayers(512, 512, 50)},
        {"300 frames of no duration, 128 x 128", manyLayers(128, 128, 300)},
        {"4 frames in 4 reference slots, 1024 x 1024", keptLayers(1024, fast)},
        {"4 frames in 4 reference slots, 16-bit lossless, 1024 x 1024",
         keptLayers(1024, fastLossless)},
        {"60 small frames on 1024 x 1024", smallFrames(1024, 60)},
        {"a 1024 x 1024 frame on 64 x 64", overhangingFrame(64, 1024)},
        {"lossy in the modular mode, 16-bit, 1024 x 1024",
         still(SamplePicture(1024, 1024, 8), modular(fast16))},
        {"40 frames libjxl does not report, 1024 x 1024", unreportedFrames(1024, 40)},
        {"10 flat extra channels, 1024 x 1024",
         still(flat(1024, 1024, 0x123456), withExtraChannels(fast, 10))},
    };
    return samples;
}
