#include "engine/formats/Orientation.h"

#include <cstring>

BgrxImage Orient(BgrxImage picture, int orientation) {
    if (orientation <= 1 || orientation > 8) {
        return picture;
    }
    const int w = picture.width();
    const int h = picture.height();
    const bool swap = SwapsSides(orientation);
    BgrxImage out(swap ? h : w, swap ? w : h);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* src = picture.row(y);
        for (int x = 0; x < w; ++x) {
            // Where the stored pixel (x, y) lands in the upright picture.
            int ox = x;
            int oy = y;
            switch (orientation) {
                case 2:
                    ox = w - 1 - x;
                    break;
                case 3:
                    ox = w - 1 - x;
                    oy = h - 1 - y;
                    break;
                case 4:
                    oy = h - 1 - y;
                    break;
                case 5:
                    ox = y;
                    oy = x;
                    break;
                case 6:
                    ox = h - 1 - y;
                    oy = x;
                    break;
                case 7:
                    ox = h - 1 - y;
                    oy = w - 1 - x;
                    break;
                case 8:
                    ox = y;
                    oy = w - 1 - x;
                    break;
            }
            std::memcpy(out.row(oy) + 4 * static_cast<std::ptrdiff_t>(ox), src + 4 * x, 4);
        }
    }
    return out;
}
