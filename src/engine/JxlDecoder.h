#pragma once

#include "engine/PictureProbe.h"
#include "filter/PixelImage.h"

#include <QString>

#include <cstdint>
#include <span>

// JPEG XL files (a bare codestream or in its container) through libjxl, on every core: the first
// frame, turned upright as the file states; pictures of more than 8 bits reduced to 8
// (ToEightBits, from 16); alpha flattened over white. Thread-safe.

// Reads the header (no pixel is decoded) into `probe`: its size as stored and its orientation;
// a header that cannot be read is named in `probe.truncation`.
void ProbeJxl(std::span<const std::uint8_t> bytes, PictureProbe& probe);

// The picture; the boundary where libjxl's failures become a RuntimeError (481, naming `path`),
// a picture over the filter's limits 7.
BgrxImage DecodeJxl(std::span<const std::uint8_t> bytes, const QString& path);
