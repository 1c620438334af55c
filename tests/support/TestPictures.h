#pragma once

#include "filter/PixelImage.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <QColor>
#include <QPoint>

#include <functional>
#include <optional>
#include <vector>

// Pictures made for tests, in memory and as files.

// A width × height picture whose pixel (x, y) is colour(x, y) = 0xRRGGBB.
BgrxImage MakePicture(int width, int height, const std::function<quint32(int, int)>& colour);

// `photo` at `width` × `height`, each pixel the nearest of the photo's: for making large test
// pictures from a bench photograph.
BgrxImage ScaledPicture(const BgrxImage& photo, int width, int height);

// The picture as JPEG bytes (TurboJPEG, 4:4:4), with an Exif block naming `orientation` when it
// is not 0 (`bigEndian` chooses the byte order of that block).
QByteArray JpegBytesOf(const BgrxImage& picture, int quality = 95, int orientation = 0,
                       bool bigEndian = false);

// The same, progressive (libjpeg's usual scans: the averages of all components first).
QByteArray ProgressiveJpegBytesOf(const BgrxImage& picture, int quality = 95);

// A CMYK JPEG of one colour, given as the stored (Adobe, inverted) bytes.
QByteArray CmykJpegBytes(int width, int height, quint8 c, quint8 m, quint8 y, quint8 k);

// A 32 × 32 icon file of one colour holding a PNG picture, which the format allows in place of a
// bitmap. A cursor file (with its hot spot) when `hotSpot` is given, an icon file otherwise.
QByteArray IconFileBytes(QColor colour, std::optional<QPoint> hotSpot = std::nullopt);

void WriteBytes(const QString& path, const QByteArray& bytes);

// Blue, green and red of pixel (x, y) as 0xRRGGBB.
quint32 ColourAt(const BgrxImage& picture, int x, int y);

// Whether two colours differ by at most `tolerance` in each of red, green and blue.
bool Near(quint32 a, quint32 b, int tolerance);

// A scan of a scripted JPEG: its components, the band of coefficients from `ss` to `se`, and the
// bit positions `ah` and `al` of a refinement.
struct JpegScan {
    int count;
    int component[4];
    int ss, se, ah, al;
};
// How libjpeg codes a picture, 4:4:4: grey (1 component), colour (3) or CMYK as stored (4); the
// scans of `scans`, else libjpeg's own progression or one baseline scan.
struct JpegCoding {
    int components = 3;
    bool arithmetic = false;
    bool progressive = false;
    std::vector<JpegScan> scans = {};
    int restartRows = 0;
};
// The picture whose pixel (x, y) is colour(x, y) through libjpeg: its green as grey, its colour,
// or its colour with a fourth channel from the pixel's place for CMYK.
QByteArray LibjpegBytesOf(int width, int height, const std::function<quint32(int, int)>& colour,
                          const JpegCoding& coding);

// A flat grey progressive JPEG of `scans` scans (at most 694): the DC scan, then for each AC
// coefficient in turn a first scan and its successive refinements. Small in bytes, costly to
// decode.
QByteArray ManyScanJpegBytes(int width, int height, int scans);
// A colour JPEG, arithmetic-coded, whose every component is refined one bit at a time over the
// whole band: 34 legal scans, each after the first of one component, that look at every
// coefficient.
QByteArray RefiningJpegBytes(int width, int height);
// A flat grey JPEG in one arithmetic-coded scan: a few KB for any size.
QByteArray ArithmeticJpegBytes(int width, int height);
