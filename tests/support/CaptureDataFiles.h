#pragma once

#include <QByteArray>

// Pictures whose capture data costs far more to read than an output can carry, for the tests and
// the capture data bench.

// A PNG chunk of `type` holding `data`, with its CRC.
QByteArray PngChunk(const char* type, const QByteArray& data);
// A 40 × 30 PNG with `chunks` after its header chunk.
QByteArray PngWith(const QByteArray& chunks);
// `count` colour profile chunks (iCCP), each inflating to `inflated` bytes.
QByteArray ColourProfileChunks(int count, int inflated);
// An XMP packet of `properties` short properties (21 bytes each), as one description.
QByteArray XmpPacketOf(int properties);
// A 40 × 30 grey TIFF made by "NOT" (Exif IFD0 Make), with `xmp` in its XMP tag and after it
// the copyright "(c) NOT".
QByteArray TiffWithXmp(const QByteArray& xmp);
// A 300 × 250 grey TIFF made by "NOT" whose directory follows its pixels, with `tags` private
// tags besides its own.
QByteArray TiffWithTagsAfterPixels(int tags);
