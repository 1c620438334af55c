#pragma once

#include "filter/PixelImage.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

// Decodes a PNG file's content straight into the 4-byte layout: palette and grey pictures
// expand, 16-bit samples round to 8 bits, transparency is flattened over white. Only the
// picture's own chunks are read: text, colour profiles and the other ancillary chunks are skipped
// without being decompressed, so that they never cost more than their bytes. libpng reads the
// header and judges the file; a picture of 8-bit samples whose data are plainly whole is inflated
// at once and its rows undone here, else libpng decodes it all. The boundary where libpng's
// failures and warnings become a RuntimeError (481, naming `path` and libpng's reason); nothing
// is printed. Thread-safe.
//
// `rowsDone`, when given, is called on the calling thread as rows of a picture stored row by row
// (not interlaced) are done, with the picture being filled and how many of its first rows are
// decoded, so that a viewer can show them before the rest; they are the picture's final rows
// unless the decode then fails (damaged data can decode into rows before a checksum tells). It may
// throw, which ends the decode.
using PngRowsDone = std::function<void(const BgrxImage& picture, int rows)>;
BgrxImage DecodePng(std::span<const std::uint8_t> png, const QString& path,
                    const PngRowsDone& rowsDone = {});

// For checking the faster path against libpng's: DecodePng through libpng alone, and the faster
// path alone (nothing where DecodePng would go on with libpng).
BgrxImage DecodePngWithLibpng(std::span<const std::uint8_t> png, const QString& path);
std::optional<BgrxImage> DecodePngAtOnce(std::span<const std::uint8_t> png);
