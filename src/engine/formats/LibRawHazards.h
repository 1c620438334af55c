#pragma once

#include <cstdint>
#include <span>
#include <string>

// What in a raw file would crash LibRaw 0.20's reader of TIFF directories, found in its bytes
// before LibRaw reads them (wherever its parsers may find a directory: the chain, SubIFDs, maker
// notes, the boxes of a CR3); "" when nothing.
//
// A colour filter pattern (CFAPattern, 33422, or Kodak's 64777) of 36 entries is read as a 6 × 6
// X-Trans pattern, through an index past the end of a row of it that the compiler took to be
// unreachable: the library jumps into nothing. Only a 6 × 6 repeat (CFARepeatPatternDim 6, 6)
// stated just before a CFAPattern takes the other, sound way.
std::string LibRawHazard(std::span<const std::uint8_t> bytes);
