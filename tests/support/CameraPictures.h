#pragma once

#include "filter/PixelImage.h"
#include "support/DngPictures.h"

#include <QByteArray>

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

// The picture as libheif's own colour conversion into interleaved RGB makes it (8 bits, no
// alpha), in the 4-byte layout: what the loader's colour is held to.
BgrxImage LibheifColour(const QByteArray& heif);

// AVIF of `bits` 8, 10 or 12 through Debian's avifenc (libavif), which writes the deep ones that
// libheif's AV1 encoder here cannot; `orientation` 1, 3, 6 or 8 (a turn, no mirror).
QByteArray AvifencBytesOf(const BgrxImage& picture, int bits, int orientation = 1);

// JPEG XL through libjxl, lossless or at distance 1; `bits` 8 or 16.
// With `exif` (a TIFF structure), in the container with an Exif box.
QByteArray JxlBytesOf(const BgrxImage& picture, bool lossless, int bits = 8, int orientation = 1,
                      const QByteArray& exif = {});
