#pragma once

#include "engine/formats/PictureProbe.h"

#include <cstdint>
#include <span>
#include <string>

// What decoding a HEIF file's primary picture takes, read from its boxes (HeifItems) without
// decoding, and what in them cannot make a whole picture: every coded picture it is made of (one,
// or a grid's tiles, and its alpha's) must state in its own headers the size its item states and
// have its data in the file; a grid's tiles must be alike and cover its output with less than one
// tile to spare, the output being what its ispe states; a clean aperture must lie within the
// picture it crops; an alpha picture must be the picture's size.
struct HeifLayout {
    std::string fault;  // why the file cannot be whole; empty when nothing was found
    // A layout that is not read: a kind of derived picture, a grid of more tiles than libheif
    // decodes, pieces beyond the filter's limits. Empty when none.
    std::string unsupported;
    DecodedPieces pieces;  // every coded picture the decode takes, and the grids' canvases
};

HeifLayout ReadHeifLayout(std::span<const std::uint8_t> bytes);

// The most tiles a grid may have: Debian 12's libheif stops a decode of more ("Too many
// derived-image decode operations") only after decoding that many.
inline constexpr std::uint32_t kMostGridTiles = 1998;
