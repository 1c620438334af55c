#pragma once

#include "engine/PictureProbe.h"
#include "filter/PixelImage.h"

#include <QString>

#include <cstdint>
#include <span>

// HEIF files (HEIC from phones, and AVIF) through libheif: the primary picture, with the
// rotation, mirroring and cropping the file states applied, so that it comes upright; 10- and
// 12-bit pictures reduced to 8 bits (ToEightBits); alpha flattened over white. Thread-safe.

// Reads the boxes (no pixel is decoded) into `probe`: its size as it comes upright, orientation
// 1; a file the library cannot read is named in `probe.truncation`.
void ProbeHeif(std::span<const std::uint8_t> bytes, PictureProbe& probe);

// The picture; the boundary where libheif's errors become a RuntimeError (481, naming `path`
// and libheif's reason), a picture over the filter's limits 7.
BgrxImage DecodeHeif(std::span<const std::uint8_t> bytes, const QString& path);
