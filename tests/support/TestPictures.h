#pragma once

#include "filter/PixelImage.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <QColor>
#include <QPoint>

#include <functional>
#include <optional>

// Pictures made for tests, in memory and as files.

// A width × height picture whose pixel (x, y) is colour(x, y) = 0xRRGGBB.
BgrxImage MakePicture(int width, int height, const std::function<quint32(int, int)>& colour);

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
