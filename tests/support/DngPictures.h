#pragma once

#include "filter/PixelImage.h"

#include <QByteArray>

#include <cstdint>
#include <vector>

// DNGs of a picture as an RGGB sensor saw it, in each way the format stores its sensor data: plain
// samples (12 bits packed, or 16) in one strip or several or in tiles, or lossless JPEG in tiles
// or strips; in the first directory, or in one below a small preview as cameras write them. Their
// colour matrix says the sensor sees sRGB's primaries.

struct DngLayout {
    bool losslessJpeg = false;
    int bitsPerSample = 16;  // 12 or 16; plain 12-bit samples are packed, the first bit highest
    int strips = 1;          // the rows in this many strips, when not in tiles
    int tile = 0;            // tiles of tile × tile pixels (a multiple of 16) instead of strips
    // The sensor data in a directory below the first, which holds an RGB preview an eighth the
    // size.
    bool preview = false;
    bool bigEndian = false;
    // Lossless JPEG: each row of a tile or strip as this many interleaved components, as cameras
    // write two, each half as wide.
    int jpegComponents = 1;
    // Lossy JPEG of the picture's colours (8 bits, as linear samples), in place of the sensor's.
    bool lossyJpeg = false;
};

// `bits`: the samples' range (its white level), at most the layout's bits; `orientation` as Exif
// numbers it, the stored picture being `picture`.
QByteArray DngBytesOf(const BgrxImage& picture, const DngLayout& layout, int bits = 12,
                      int orientation = 1);

// The sensor data of a DNG as given, for files whose data is not what their directory states.
struct DngSensorData {
    int width = 0;
    int height = 0;
    int bitsPerSample = 16;
    int compression = 1;   // 1 plain, 7 lossless JPEG, 34892 lossy JPEG
    int tile = 0;          // the tiles' width and length; strips when 0
    int rowsPerStrip = 0;  // of strips
    std::vector<QByteArray> pieces;
    // The piece that each entry of the offsets and byte counts names; each its own when empty.
    std::vector<int> entries = {};
    // The part of the sensor the picture shows (top, left, bottom, right); all when empty.
    std::vector<std::uint32_t> activeArea = {};
    // Samples a pixel: 1 of a colour filter array, 3 of a linear (demosaiced) picture.
    int samples = 1;
};

// The DNG of that data; `preview`, when not empty, is an RGB picture in the first directory, the
// sensor data in one below it.
QByteArray DngFileOf(const DngSensorData& data, int bits, int orientation = 1,
                     bool bigEndian = false, const BgrxImage& preview = {});

// A flat grey DNG of lossless JPEG in `tile`-pixel tiles that all name one tile's data.
QByteArray DngOfOneTileForAll(int width, int height, int tile);

// A flat grey DNG of lossless JPEG in `tile`-pixel tiles, of a `sensor` × `sensor` sensor of which
// the picture shows `shown` × `shown`.
QByteArray DngShowingPartOfItsSensor(int sensor, int shown, int tile);

// Plain 16-bit samples in one strip, of which `bits` are used.
QByteArray DngBytesOf(const BgrxImage& picture, int bits = 12, int orientation = 1);

// A plain 16-bit grey TIFF (a ramp left to right) whose Make is `make`, as a scanner writes it.
QByteArray GreyTiffBytes(int width, int height, const char* make);
