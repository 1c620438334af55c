#pragma once

#include "formats/ContractSample.h"

// The structure of a TIFF file, read here on the test's side (a DNG is one): every directory of the
// chain and below (SubIFDs). Boundaries at the end of the header, at each directory's start and
// end, and at each strip's and tile's start and end; fields: the offsets of the first directory,
// of each next one and of each SubIFD, each directory's ImageWidth, ImageLength, BitsPerSample,
// RowsPerStrip, TileWidth and TileLength, and each entry of StripOffsets, StripByteCounts,
// TileOffsets and TileByteCounts; the bytes of uncompressed strips and tiles are samples stored
// plain.
void AddTiffStructure(ContractSample& s);
