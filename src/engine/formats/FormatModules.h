#pragma once

#include "engine/formats/PictureFormat.h"

// The module of each kind, for the list of them (AllFormats) alone: everything else asks FormatOf.
const PictureFormat& JpegFormat();
const PictureFormat& PngFormat();
const PictureFormat& GifFormat();
const PictureFormat& BmpFormat();
const PictureFormat& IcoFormat();
const PictureFormat& TiffFormat();
const PictureFormat& WebpFormat();
const PictureFormat& XbmFormat();
const PictureFormat& NetpbmFormat();
const PictureFormat& HeifFormat();
const PictureFormat& JxlFormat();
const PictureFormat& RawFormat();
// Kinds refused from their header: Windows metafiles, MNG and JNG animations.
const PictureFormat& MetafileFormat();
const PictureFormat& MngFormat();
// Whatever else Qt's readers take by content.
const PictureFormat& OtherQtFormat();
