#pragma once

#include "engine/PictureProbe.h"
#include "filter/PixelImage.h"

#include <QString>

#include <cstdint>
#include <span>

// Camera raw files (DNG, CR2, CR3, NEF, ARW, RAF, ORF, RW2) through LibRaw: the whole sensor
// picture, demosaiced with LibRaw's default processing (AHD interpolation, the camera's daylight
// colour balance, sRGB, 8 bits, its automatic brightness), turned upright as the file states;
// never the thumbnail a raw file carries. Thread-safe (the reentrant library).

// Reads the metadata (no pixel is decoded) into `probe`: the size of the picture as it will
// come, upright, orientation 1; a file LibRaw cannot open is named in `probe.truncation`.
void ProbeRaw(std::span<const std::uint8_t> bytes, PictureProbe& probe);

// The picture; the boundary where LibRaw's error codes and data errors (a file that ends
// early) become a RuntimeError (481, naming `path`), a picture over the filter's limits 7.
BgrxImage DecodeRaw(std::span<const std::uint8_t> bytes, const QString& path);
