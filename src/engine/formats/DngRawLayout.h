#pragma once

#include "engine/formats/TiffPieces.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// How a DNG's raw directory (the one LibRaw decodes: the first full-size sensor picture, of a
// colour filter array or linear, in the order LibRaw walks the directories) stores its sensor
// data, read and checked before anything is decoded: every strip or tile present, as many as the
// size and the tile or strip size make, none sharing bytes with another or with the directories,
// plain ones holding exactly their samples, JPEG ones (RawJpegPiece) of the piece's size.

struct DngRawLayout {
    bool found = false;  // whether the file has such a directory
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bitsPerSample = 0;
    std::uint32_t samplesPerPixel = 1;
    std::uint32_t compression = 1;  // 1 plain, 7 lossless JPEG, 34892 lossy JPEG
    bool tiled = false;
    // The tiles' size, or the picture's width and the rows of each strip (the last may hold
    // fewer).
    std::uint32_t pieceWidth = 0;
    std::uint32_t pieceLength = 0;
    // Tiles row by row, or strips top down: the order LibRaw decodes them in.
    std::vector<TiffPiece> pieces;
    // Why the file cannot be whole ("its header states 900 bytes, the file holds 800"), or why
    // its data is not read (a layout the decoders do not take); empty when neither.
    std::string fault;
    std::string unsupported;

    // The bytes of a row of plain samples `pixels` wide (rows begin on a byte).
    std::uint64_t plainRowBytes(std::uint64_t pixels) const {
        return (pixels * samplesPerPixel * bitsPerSample + 7) / 8;
    }
    // How many tiles a row of them holds (1 for strips).
    std::uint32_t across() const { return (width + pieceWidth - 1) / pieceWidth; }
    // The rows that piece `k` holds of the picture.
    std::uint32_t rowsOf(std::size_t k) const;
};

DngRawLayout ReadDngRawLayout(std::span<const std::uint8_t> bytes);
