#pragma once

#include "filter/PixelImage.h"

#include <QByteArray>

// One AV1 key frame of `picture` coded smaller than its sequence header states, as a stream may
// code any frame (frame_size_override_flag): libaom's fixed resize, by 8 / `denominator` (8 to
// 16; 8 codes it whole), under a sequence header of the picture's size. 8-bit 4:2:0, grey levels
// from the colours (what matters is the size). Throws std::runtime_error when libaom fails.
struct ResizedAv1 {
    QByteArray units;  // the sequence header and the frame, each with its size
    QByteArray av1C;   // the whole box, its configuration units the sequence header
};
ResizedAv1 ResizedAv1Of(const BgrxImage& picture, int denominator);
