#pragma once

// Inside the filter: the per-pixel rule and the row kernels. Not for use elsewhere.

#include "filter/BlackWhiteFilter.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace filter_detail {

// v = round(w × 0.7) with the product taken in double precision and rounded to the nearest
// integer, ties to even: the double nearest 0.7 lies just below it, which makes w = 45, 85 and
// 165 round down where the exact product would round up.
inline const std::array<std::uint8_t, 256>& greyBandTable() {
    static const std::array<std::uint8_t, 256> table = [] {
        std::array<std::uint8_t, 256> t{};
        for (int w = 0; w < 256; ++w) {
            t[w] = static_cast<std::uint8_t>(std::nearbyint(static_cast<double>(w) * 0.7));
        }
        return t;
    }();
    return table;
}

// The result of one pixel from its brightness m (0..255) and edge strength e (0..510).
inline std::uint8_t pixelValue(int m, int e, const FilterThresholds& t) {
    if (m < t.black) {
        return static_cast<std::uint8_t>(m);
    }
    if (e > 250) {
        return 0;
    }
    const int w = 255 - e;  // 5..255 from here on
    if (e > t.gradient) {
        return static_cast<std::uint8_t>((w + 3 + ((w >> 3) & 1)) >> 3);  // w / 8, ties to even
    }
    if (e > t.gray) {
        return greyBandTable()[w];
    }
    return 255;
}

// One interior row: `up`, `mid` and `down` are rows y - 1, y and y + 1 of the source; pixels
// x0 <= x < x1 of `out` are written.
inline void scalarSpan(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down,
                       int x0, int x1, const FilterThresholds& t, std::uint8_t* out) {
    for (int x = x0; x < x1; ++x) {
        const std::uint8_t* c = mid + 4 * x;
        const std::uint8_t* u = up + 4 * x;
        const std::uint8_t* d = down + 4 * x;
        const int m = (c[0] + c[1] + c[2] + 1) / 3;
        int sum = 0;
        for (int k = 0; k < 3; ++k) {
            sum += std::abs(u[k] - d[k]) + std::abs(c[k - 4] - c[k + 4]);
        }
        out[x] = pixelValue(m, (sum + 1) / 3, t);
    }
}

// The row kernels: each writes pixels 1 .. width - 2 of one interior row, and may write pixel 0
// too. A kernel may start at pixel 0, whose left neighbour is then read from the 4 bytes before
// the row (the end of the row above, since interior rows are never the first); so its vector
// loads of the row stay aligned when the rows are.
using RowKernel = void (*)(const std::uint8_t* up, const std::uint8_t* mid,
                           const std::uint8_t* down, int width, const FilterThresholds& t,
                           std::uint8_t* out);

void scalarRow(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down, int width,
               const FilterThresholds& t, std::uint8_t* out);

// The row kernel compiled for one SIMD target.
struct TargetKernel {
    std::int64_t target;  // the SIMD library's bit for the target
    const char* name;     // "AVX2", "NEON"
    RowKernel row;
    bool runs;  // the processor has the target's instructions
};

// Every target the kernel was compiled for, the best first.
std::vector<TargetKernel> HighwayKernels();

// The SIMD library's bits of the targets whose instructions the processor has.
std::int64_t SupportedSimdTargets();

}  // namespace filter_detail
