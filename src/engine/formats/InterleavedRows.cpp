#include "engine/formats/InterleavedRows.h"

#include <algorithm>

namespace {

// The colour times its alpha plus the white that shows through, as for premultiplied colours.
std::uint8_t overWhite(std::uint8_t colour, std::uint8_t alpha) {
    const int t = colour * alpha + 128;
    return static_cast<std::uint8_t>(((t + (t >> 8)) >> 8) + 255 - alpha);
}

std::uint8_t plusWhite(std::uint8_t premultiplied, std::uint8_t alpha) {
    return static_cast<std::uint8_t>(std::min(255, premultiplied + 255 - alpha));
}

template <typename Sample, typename Reduce>
void put(std::uint8_t* out, const Sample* in, int width, int channels, bool premultiplied,
         Reduce reduce) {
    const auto flatten = premultiplied ? plusWhite : overWhite;
    for (int x = 0; x < width; ++x, in += channels, out += 4) {
        const std::uint8_t r = reduce(in[0]);
        const std::uint8_t g = reduce(in[1]);
        const std::uint8_t b = reduce(in[2]);
        if (channels == 4) {
            const std::uint8_t a = reduce(in[3]);
            out[0] = flatten(b, a);
            out[1] = flatten(g, a);
            out[2] = flatten(r, a);
        } else {
            out[0] = b;
            out[1] = g;
            out[2] = r;
        }
        out[3] = 0;
    }
}

}  // namespace

void PutInterleavedRow(BgrxImage& picture, int y, const void* row, InterleavedLayout layout) {
    if (layout.bits <= 8) {
        put(picture.row(y), static_cast<const std::uint8_t*>(row), picture.width(), layout.channels,
            layout.premultiplied, [](std::uint8_t v) { return v; });
    } else {
        const std::uint32_t most = (1u << layout.bits) - 1;
        put(picture.row(y), static_cast<const std::uint16_t*>(row), picture.width(),
            layout.channels, layout.premultiplied, [&](std::uint16_t v) {
                // A sample beyond its stated bits (a damaged stream) counts as the most.
                return ToEightBits(v > most ? most : v, layout.bits);
            });
    }
}
