#pragma once

#include "engine/formats/ExifIfd.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Clears the previews that the maker note at [at, at + size) of the Exif block `source` holds, in
// `out` (the output's copy of the block's first bytes, at the same offsets): a preview's bytes
// become zeros and the entry stating it says nothing (a count or a length of 0), so the maker
// note's other entries keep their places. Knows the layouts cameras write: a directory at the
// note's start or after a maker's header, its offsets counted from the block, from the note or from
// a TIFF header of the note's own; a preview is an entry's bytes, or a start and a length in the
// note or in one of its sub-directories, and only bytes that begin as a JPEG does are taken for
// one. Returns the ranges cleared, in order and apart from each other.
std::vector<std::pair<std::uint64_t, std::uint64_t>> ClearMakerNotePreviews(const ExifBytes& source,
                                                                            std::uint64_t at,
                                                                            std::uint64_t size,
                                                                            std::string& out);

// Whether `bytes` hold the start of a JPEG stream at `at`: its start marker and another marker.
bool StartsAJpeg(std::span<const std::uint8_t> bytes, std::uint64_t at);
