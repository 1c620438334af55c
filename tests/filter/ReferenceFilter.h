#pragma once

#include "filter/BlackWhiteFilter.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

// The filter as plainly as it can be written: doubles, rounding to nearest with ties to even,
// the bands in their order, into a zeroed 4-byte result. Slow on purpose; the yardstick for the
// real filter. `source` is width × height pixels of 4 bytes, `stride` bytes a row.
inline std::vector<std::uint8_t> ReferenceFilter(const std::uint8_t* source, std::ptrdiff_t stride,
                                                 int width, int height, FilterThresholds t) {
    const auto s = [&](int x, int y, int k) -> int { return source[stride * y + 4 * x + k]; };
    const auto round = [](double d) { return static_cast<int>(std::nearbyint(d)); };
    std::vector<std::uint8_t> r(static_cast<std::size_t>(4) * width * height, 0);
    for (int y = 1; y <= height - 2; ++y) {
        for (int x = 1; x <= width - 2; ++x) {
            const int m = round((s(x, y, 0) + s(x, y, 1) + s(x, y, 2)) / 3.0);
            int v;
            if (m < t.black) {
                v = m;
            } else {
                int d = 0;
                for (int k = 0; k < 3; ++k) {
                    d += std::abs(s(x, y - 1, k) - s(x, y + 1, k)) +
                         std::abs(s(x - 1, y, k) - s(x + 1, y, k));
                }
                const int e = round(d / 3.0);
                const int w = 255 - e;
                if (e > 250) {
                    v = 0;
                } else if (e > t.gradient) {
                    v = round(w / 8.0);
                } else if (e > t.gray) {
                    v = round(static_cast<double>(w) * 0.7);
                } else {
                    v = 255;
                }
            }
            std::uint8_t* p = &r[4 * (static_cast<std::size_t>(width) * y + x)];
            p[0] = p[1] = p[2] = static_cast<std::uint8_t>(v);
        }
    }
    return r;
}
