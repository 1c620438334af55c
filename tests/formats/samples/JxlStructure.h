#pragma once

#include "formats/ContractSample.h"

// The structure of a JPEG XL file that libjxl's encoder made, found by reading it: its boxes when
// it is in the container, and, from a decode of its codestream frame by frame, where its first
// frame begins and where each frame's data begins (after its header and table of contents) and
// ends. Its fields: each box's size (and a codestream part's index), the size header's width and
// height, the position and size of a frame that is not the whole canvas, and the first entries of
// each frame's table of contents, each changed in place in its own bits.
void AddJxlStructure(ContractSample& s);
