#pragma once

#include "engine/formats/CaptureData.h"
#include "engine/output/EncodedBytes.h"
#include "filter/PixelImage.h"

// The grey picture as a lossless 8-bit grey PNG, in memory, for line art and exact checks.
// Raises the same failure text. Thread-safe.
// `carried` goes into an eXIf chunk and an XMP iTXt chunk before the picture's data.
EncodedBytes EncodeGreyPng(const GreyImage& grey, const CaptureData& carried = {});
