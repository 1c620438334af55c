#include "convert/BlackWhiteFilter.h"

#include "shell/RuntimeError.h"

#include <array>
#include <cmath>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// v = round(w × 0.7) with the product taken in double precision and rounded to the nearest
// integer, ties to even: the double nearest 0.7 lies just below it, which makes w = 45, 85 and
// 165 round down where the exact product would round up.
const std::array<std::uint8_t, 256>& greyBandTable() {
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
inline std::uint8_t pixelValue(int m, int e, const FilterThresholds& t,
                               const std::array<std::uint8_t, 256>& greyBand) {
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
        return greyBand[w];
    }
    return 255;
}

// Pixels x0 <= x < x1 of interior row y, one at a time.
inline void scalarSpan(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down,
                       int x0, int x1, const FilterThresholds& t,
                       const std::array<std::uint8_t, 256>& greyBand, std::uint8_t* out) {
    for (int x = x0; x < x1; ++x) {
        const std::uint8_t* c = mid + 4 * x;
        const std::uint8_t* u = up + 4 * x;
        const std::uint8_t* d = down + 4 * x;
        const int m = (c[0] + c[1] + c[2] + 1) / 3;
        int sum = 0;
        for (int k = 0; k < 3; ++k) {
            sum += std::abs(u[k] - d[k]) + std::abs(c[k - 4] - c[k + 4]);
        }
        out[x] = pixelValue(m, (sum + 1) / 3, t, greyBand);
    }
}

void checkSize(int width, int height) {
    if (width > kFilterMaxWidth || height > kFilterMaxHeight) {
        throw RuntimeError(ErrorNumber::Overflow,
                           "Overflow: the picture is " + std::to_string(width) + " x " +
                               std::to_string(height) + " pixels; the filter takes at most " +
                               std::to_string(kFilterMaxWidth) + " x " +
                               std::to_string(kFilterMaxHeight));
    }
}

void blackFrame(int width, int height, std::uint8_t* grey, std::ptrdiff_t greyStride) {
    std::memset(grey, 0, width);
    if (height > 1) {
        std::memset(grey + greyStride * (height - 1), 0, width);
    }
    for (int y = 1; y < height - 1; ++y) {
        grey[greyStride * y] = 0;
        grey[greyStride * y + width - 1] = 0;
    }
}

template <typename Span>
void filterRows(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width, int height,
                std::uint8_t* grey, std::ptrdiff_t greyStride, Span span) {
    checkSize(width, height);
    if (width <= 0 || height <= 0) {
        return;
    }
    blackFrame(width, height, grey, greyStride);
    for (int y = 1; y < height - 1; ++y) {
        const std::uint8_t* mid = source + sourceStride * y;
        span(mid - sourceStride, mid, mid + sourceStride, grey + greyStride * y);
    }
}

#if defined(__SSE2__)

// Sixteen interior pixels at a time in 16-bit lanes. Divisions by 3 and 10 are multiplications
// by a reciprocal, exact over the ranges that occur (sums up to 1531, products up to 1790).
class Sse2Kernel {
  public:
    explicit Sse2Kernel(const FilterThresholds& t)
        : black_(_mm_set1_epi16(t.black)),
          gradient_(_mm_set1_epi16(t.gradient)),
          gray_(_mm_set1_epi16(t.gray)) {}

    // Pixels x .. x + 15; reads pixels x - 1 .. x + 16 of the row and x .. x + 15 above and below.
    void run16(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down, int x,
               std::uint8_t* out) const {
        __m128i brightness[2];
        __m128i gradient[2];
        for (int half = 0; half < 2; ++half) {
            __m128i b32[2];
            __m128i g32[2];
            for (int q = 0; q < 2; ++q) {
                const int p = 4 * (x + 8 * half + 4 * q);  // byte offset of four pixels
                const __m128i c = load(mid + p);
                const __m128i v = absDiff(load(up + p), load(down + p));
                const __m128i h = absDiff(load(mid + p - 4), load(mid + p + 4));
                b32[q] = channelSum(c, _mm_setzero_si128());
                g32[q] = channelSum(v, h);
            }
            brightness[half] = _mm_packs_epi32(b32[0], b32[1]);
            gradient[half] = _mm_packs_epi32(g32[0], g32[1]);
        }
        const __m128i lo = values(brightness[0], gradient[0]);
        const __m128i hi = values(brightness[1], gradient[1]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(lo, hi));
    }

  private:
    static __m128i load(const std::uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
    static __m128i absDiff(__m128i a, __m128i b) {
        return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
    }
    // Blue + green + red of four pixels of `a` plus the same of `b`, as four 32-bit sums; the
    // fourth byte of each pixel is dropped.
    static __m128i channelSum(__m128i a, __m128i b) {
        const __m128i colours = _mm_set1_epi32(0x00FFFFFF);
        const __m128i lowBytes = _mm_set1_epi16(0x00FF);
        a = _mm_and_si128(a, colours);
        b = _mm_and_si128(b, colours);
        const __m128i pairs =
            _mm_add_epi16(_mm_add_epi16(_mm_and_si128(a, lowBytes), _mm_srli_epi16(a, 8)),
                          _mm_add_epi16(_mm_and_si128(b, lowBytes), _mm_srli_epi16(b, 8)));
        return _mm_madd_epi16(pairs, _mm_set1_epi16(1));
    }
    static __m128i divideBy3Rounded(__m128i sum) {  // (sum + 1) / 3
        return _mm_srli_epi16(_mm_mulhi_epu16(_mm_add_epi16(sum, _mm_set1_epi16(1)),
                                              _mm_set1_epi16(static_cast<short>(43691))),
                              1);
    }
    static __m128i divideBy10(__m128i x) { return _mm_mulhi_epu16(x, _mm_set1_epi16(6554)); }
    static __m128i select(__m128i mask, __m128i yes, __m128i no) {
        return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
    }

    // Eight results from eight brightness sums and eight gradient sums.
    __m128i values(__m128i brightnessSum, __m128i gradientSum) const {
        const __m128i one = _mm_set1_epi16(1);
        const __m128i m = divideBy3Rounded(brightnessSum);
        const __m128i e = divideBy3Rounded(gradientSum);
        // Lanes with e > 255 make w negative; they are black and their band values unused.
        const __m128i w = _mm_sub_epi16(_mm_set1_epi16(255), e);
        const __m128i nearBlack =
            _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(w, _mm_set1_epi16(3)),
                                         _mm_and_si128(_mm_srli_epi16(w, 3), one)),
                           3);
        // round(7w / 10) with ties to even, then one lower at the three ties where the double
        // product 0.7 × w falls just below the half.
        const __m128i w7 = _mm_mullo_epi16(w, _mm_set1_epi16(7));
        const __m128i odd = _mm_and_si128(divideBy10(w7), one);
        __m128i grey = divideBy10(_mm_add_epi16(w7, _mm_add_epi16(_mm_set1_epi16(4), odd)));
        const __m128i below = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(w, _mm_set1_epi16(45)),
                                                        _mm_cmpeq_epi16(w, _mm_set1_epi16(85))),
                                           _mm_cmpeq_epi16(w, _mm_set1_epi16(165)));
        grey = _mm_add_epi16(grey, below);  // the masks are -1

        __m128i v = _mm_set1_epi16(255);
        v = select(_mm_cmpgt_epi16(e, gray_), grey, v);
        v = select(_mm_cmpgt_epi16(e, gradient_), nearBlack, v);
        v = _mm_andnot_si128(_mm_cmpgt_epi16(e, _mm_set1_epi16(250)), v);
        return select(_mm_cmplt_epi16(m, black_), m, v);
    }

    __m128i black_;
    __m128i gradient_;
    __m128i gray_;
};

#endif

}  // namespace

void ApplyBlackWhiteFilterScalar(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width,
                                 int height, FilterThresholds thresholds, std::uint8_t* grey,
                                 std::ptrdiff_t greyStride) {
    const auto& greyBand = greyBandTable();
    filterRows(source, sourceStride, width, height, grey, greyStride,
               [&](const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down,
                   std::uint8_t* out) {
                   scalarSpan(up, mid, down, 1, width - 1, thresholds, greyBand, out);
               });
}

void ApplyBlackWhiteFilter(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width,
                           int height, FilterThresholds thresholds, std::uint8_t* grey,
                           std::ptrdiff_t greyStride) {
#if defined(__SSE2__)
    const auto& greyBand = greyBandTable();
    const Sse2Kernel kernel(thresholds);
    filterRows(source, sourceStride, width, height, grey, greyStride,
               [&](const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down,
                   std::uint8_t* out) {
                   int x = 1;
                   for (; x + 16 <= width - 1; x += 16) {
                       kernel.run16(up, mid, down, x, out);
                   }
                   scalarSpan(up, mid, down, x, width - 1, thresholds, greyBand, out);
               });
#else
    ApplyBlackWhiteFilterScalar(source, sourceStride, width, height, thresholds, grey, greyStride);
#endif
}

GreyImage ApplyBlackWhiteFilter(const BgrxImage& source, FilterThresholds thresholds) {
    checkSize(source.width(), source.height());
    GreyImage result(source.width(), source.height());
    ApplyBlackWhiteFilter(source.data(), source.stride(), source.width(), source.height(),
                          thresholds, result.data(), result.stride());
    return result;
}

BgrxImage GreyToBgrx(const GreyImage& grey) {
    BgrxImage out(grey.width(), grey.height());
    for (int y = 0; y < grey.height(); ++y) {
        const std::uint8_t* g = grey.row(y);
        std::uint8_t* o = out.row(y);
        for (int x = 0; x < grey.width(); ++x) {
            o[4 * x] = o[4 * x + 1] = o[4 * x + 2] = g[x];
            o[4 * x + 3] = 0;
        }
    }
    return out;
}
