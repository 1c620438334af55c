#pragma once

#include "filter/PixelImage.h"
#include "support/DngPictures.h"

#include <QByteArray>
#include <QStringList>

#include <functional>

#include <cstdint>
#include <utility>
#include <vector>

// Phones' and cameras' pictures made for tests, by the formats' own encoders (DNGs are written
// here: DngPictures.h). `orientation` is as Exif numbers it: the stored picture is `picture`, to be
// shown so turned. `bits` above 8 scales each sample v to v × (2^bits − 1) / 255, rounded.

// HEIC (x265) or AVIF (AOM) through libheif, 4:2:0 at `quality`; `bits` 8 or 10.
// How the colour is stored: the matrix and range stated in the file, and the encoder's chroma
// sampling ("420", "422", "444"; its default when none).
struct HeifColour {
    int matrix = 6;
    bool fullRange = true;
    const char* chroma = nullptr;
};

// `exif`: an Exif block (a TIFF structure) to carry; none when empty.
QByteArray HeifBytesOf(const BgrxImage& picture, bool avif, int bits = 8, int orientation = 1,
                       int quality = 90, const QByteArray& exif = {}, HeifColour colour = {});

// A lossless HEIC of one colour `rgb` (0xRRGGBB) with `alpha`, its colour stated premultiplied
// by the alpha or not.
QByteArray HeifWithAlphaBytes(int width, int height, quint32 rgb, quint8 alpha, bool premultiplied);

// A HEIC (or AVIF) of the picture with an alpha channel whose value at (x, y) is alpha(x, y),
// lossy at `quality`, not premultiplied.
QByteArray HeifWithAlphaBytesOf(const BgrxImage& picture,
                                const std::function<quint8(int, int)>& alpha, bool avif,
                                int quality = 90);

// The picture as libheif's own colour conversion into interleaved RGB makes it (8 bits, no
// alpha), in the 4-byte layout: what the loader's colour is held to.
BgrxImage LibheifColour(const QByteArray& heif);

// AVIF of `bits` 8, 10 or 12 through Debian's avifenc (libavif), which writes the deep ones that
// libheif's AV1 encoder here cannot; `orientation` 1, 3, 6 or 8 (a turn, no mirror); `options`
// are avifenc's own besides ("--grid", "2x2"; "--crop", "X,Y,W,H"; "--imir", "1").
QByteArray AvifencBytesOf(const BgrxImage& picture, int bits, int orientation = 1,
                          const QStringList& options = {});

// JPEG XL through libjxl, lossless or at distance 1; `bits` 8 or 16.
// With `exif` (a TIFF structure), in the container with an Exif box.
QByteArray JxlBytesOf(const BgrxImage& picture, bool lossless, int bits = 8, int orientation = 1,
                      const QByteArray& exif = {});

// How a JPEG XL file is written: as JxlBytesOf's arguments say, and besides lossy in the modular
// mode rather than in VarDCT's blocks, with noise as of ISO 3200, with the averages of its blocks
// in a frame of their own before it, in the container without any box, with `extraChannels`
// more channels (each a flat 0), and at libjxl's `effort`.
struct JxlLayout {
    bool lossless = false;
    bool modular = false;
    bool noise = false;
    bool dcFrame = false;
    int bits = 8;
    int orientation = 1;
    QByteArray exif = {};
    bool container = false;
    int extraChannels = 0;
    int effort = 7;
    std::vector<std::pair<int, std::int64_t>> options = {};
};

// One frame of a JPEG XL file: its picture, where its top left corner lies on the canvas (it may
// reach beyond it), how long it is shown, in ticks of 1/100 s (0 puts it under the frames after
// it, shown together with the first that lasts), which of the decoder's four reference slots
// keeps it for them, and which slot's canvas it is put on.
struct JxlFrame {
    BgrxImage picture;
    int x = 0;
    int y = 0;
    std::uint32_t duration = 0;
    int keptIn = 0;
    int putOn = 0;
};

// A JPEG XL of a `width` × `height` canvas: a still of one frame, an animation of more.
QByteArray JxlFramesBytes(int width, int height, const std::vector<JxlFrame>& frames,
                          const JxlLayout& layout);

// `jxl` (made by JxlFramesBytes) with its first `count` frames, each of all but default fields,
// marked as frames not to be shown while the file loads: a type that libjxl decodes without
// reporting it.
QByteArray JxlHideFrames(QByteArray jxl, int count);
