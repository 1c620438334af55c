#pragma once

#include <cstdint>
#include <span>
#include <string>

// The header of the JPEG stream in one tile or strip of a DNG, read up to its scan, as LibRaw's
// decoders will read it, and checked so that they read nothing else: one frame, lossless
// (SOF3, LibRaw's own decoder) or sequential (SOF0 and SOF1, through libjpeg), each Huffman table
// defined once, a scan that takes the tables as LibRaw assigns them, and the stream's end marker
// last in the piece's bytes.
struct RawJpegPiece {
    int frame = 0;  // the frame marker's second byte: 0xC3, 0xC0 or 0xC1
    int precision = 0;
    int width = 0;  // samples a row, of each component
    int height = 0;
    int components = 0;
    // The scans the piece holds (sequential frames may hold one a component).
    int scans = 0;
    // Where the first scan's coded data begins and the end marker is, within the piece.
    std::uint64_t dataStart = 0;
    std::uint64_t dataEnd = 0;
    // Why the piece cannot be decoded whole; empty when it can.
    std::string fault;
};

// `piece`: the tile's or strip's bytes, as its directory states them.
RawJpegPiece ReadRawJpegPiece(std::span<const std::uint8_t> piece);
