#pragma once

#include "engine/formats/CaptureData.h"

#include <cstdint>
#include <span>

// The capture data of the PNG file `png` (the caller owns it), found in its chunks: the Exif of
// eXIf, the XMP of the iTXt that the XMP names, and the hex "raw profiles" of Exif and XMP that
// some writers keep in tEXt, zTXt or iTXt chunks. Compressed text is inflated only up to what an
// output carries; the colour profile (iCCP) and every other chunk are never inflated.
CaptureData PngCaptureData(std::span<const std::uint8_t> png, int width, int height);
