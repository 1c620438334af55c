#pragma once

#include "formats/ContractSample.h"

// Picture content for samples: busy enough that any damage to coded data shows in the pixels.
#include "filter/PixelImage.h"

#include <QImage>

BgrxImage SamplePicture(int width, int height, int seed = 0);

// The picture as a QImage of `format`, for Qt's writers.
QImage SampleImage(const BgrxImage& picture, QImage::Format format);

// The structure of JPEG markers: where each segment and the scan data begin, and the fields of
// their lengths and the frame's size.
void AddJpegStructure(ContractSample& s);

// The structure of PNG chunks: each chunk's start, its length field, and the header's size.
void AddPngStructure(ContractSample& s);

// A whole number written as text at `at` (`length` digits, as in "#define x_width 16"), made
// larger and smaller: doubled and halved.
FieldEdit TextNumberField(std::string what, qsizetype at, qsizetype length);

// The structure of a HEIF file (HEIC, AVIF): where every box and every item's data begin and
// end, and the fields of each box's size, the sizes ispe states, each item's data offsets and
// lengths, a grid's rows, columns and output size, and a clean aperture (clap).
void AddHeifStructure(ContractSample& s);
