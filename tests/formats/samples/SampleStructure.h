#pragma once

#include "formats/ContractSample.h"

// Picture content for samples: busy enough that any damage to coded data shows in the pixels.
#include "filter/PixelImage.h"

BgrxImage SamplePicture(int width, int height, int seed = 0);

// The structure of JPEG markers: where each segment and the scan data begin, and the fields of
// their lengths and the frame's size.
void AddJpegStructure(ContractSample& s);

// The structure of PNG chunks: each chunk's start, its length field, and the header's size.
void AddPngStructure(ContractSample& s);

// The structure of a HEIF file (HEIC, AVIF): where every box and every item's data begin and
// end, and the fields of each box's size, the sizes ispe states, each item's data offsets and
// lengths, a grid's rows, columns and output size, and a clean aperture (clap).
void AddHeifStructure(ContractSample& s);
