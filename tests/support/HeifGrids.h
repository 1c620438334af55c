#pragma once

#include "filter/PixelImage.h"

#include <QByteArray>

// HEIF grids laid out here from tiles that libheif encodes (this libheif writes no grids): the
// phones' way of storing a big picture, and the way a small file makes a decoder work hard.
struct HeifGrid {
    int columns = 2;
    int rows = 2;
    int tileWidth = 64;
    int tileHeight = 64;
    // The grid's output; 0 for all that the tiles cover.
    int width = 0;
    int height = 0;
    bool avif = false;  // AV1 tiles (libheif's AOM encoder) instead of HEVC (x265)
    int bits = 8;
    // Every place of the grid refers to the one tile encoded, the picture's top left.
    bool oneTile = false;
    // A clean aperture (clap) of that size, centred on the output; 0 for none.
    int cropWidth = 0;
    int cropHeight = 0;
    // Quarter turns anticlockwise (irot) after the crop, or before it, which the format
    // forbids and libheif does as listed; 0 for none.
    int turns = 0;
    bool turnFirst = false;
    // What the grid's ispe states; 0 for its output, as the format requires.
    int statedWidth = 0;
    int statedHeight = 0;
    int quality = 90;
    // AV1 tiles coded by libaom alone (ResizedAv1Of), each by 8 / frameDenominator of the tile
    // size their sequence headers and ispe state (8: the whole size); 0 for libheif's tiles.
    int frameDenominator = 0;
    // Capture data the grid's picture describes (cdsc): an Exif block (a TIFF structure, or one
    // after a JPEG's "Exif\0\0", as encoders copy it from a JPEG) and an XMP packet; none when
    // empty.
    QByteArray exif;
    QByteArray xmp;
};

// The grid of `picture`'s tiles, left to right and top to bottom; the picture covers all the
// tiles (or the first, for `oneTile`). Throws std::runtime_error when an encoder fails.
QByteArray HeifGridBytesOf(const BgrxImage& picture, const HeifGrid& grid);
