#include "filter/FilterKernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>

namespace filter_detail {
namespace {

__m128i load(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

__m128i absDiff(__m128i a, __m128i b) {
    return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
}

// Blue + green + red of four pixels of `a` plus the same of `b`, as four 32-bit sums; the fourth
// byte of each pixel is dropped.
__m128i channelSum(__m128i a, __m128i b) {
    const __m128i colours = _mm_set1_epi32(0x00FFFFFF);
    const __m128i lowBytes = _mm_set1_epi16(0x00FF);
    a = _mm_and_si128(a, colours);
    b = _mm_and_si128(b, colours);
    const __m128i pairs =
        _mm_add_epi16(_mm_add_epi16(_mm_and_si128(a, lowBytes), _mm_srli_epi16(a, 8)),
                      _mm_add_epi16(_mm_and_si128(b, lowBytes), _mm_srli_epi16(b, 8)));
    return _mm_madd_epi16(pairs, _mm_set1_epi16(1));
}

__m128i divideBy3Rounded(__m128i sum) {  // (sum + 1) / 3 for sums up to 1530
    return _mm_srli_epi16(_mm_mulhi_epu16(_mm_add_epi16(sum, _mm_set1_epi16(1)),
                                          _mm_set1_epi16(static_cast<short>(43691))),
                          1);
}

__m128i divideBy10(__m128i x) {
    return _mm_mulhi_epu16(x, _mm_set1_epi16(6554));
}  // x <= 1790

__m128i select(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// Eight results from eight brightness sums and eight gradient sums, in 16-bit lanes.
__m128i values(__m128i brightnessSum, __m128i gradientSum, __m128i black, __m128i gradient,
               __m128i gray) {
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
    v = select(_mm_cmpgt_epi16(e, gray), grey, v);
    v = select(_mm_cmpgt_epi16(e, gradient), nearBlack, v);
    v = _mm_andnot_si128(_mm_cmpgt_epi16(e, _mm_set1_epi16(250)), v);
    return select(_mm_cmplt_epi16(m, black), m, v);
}

// Sixteen pixels at a time, the rest one by one.
void row(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down, int width,
         const FilterThresholds& t, std::uint8_t* out) {
    const __m128i black = _mm_set1_epi16(t.black);
    const __m128i gradient = _mm_set1_epi16(t.gradient);
    const __m128i gray = _mm_set1_epi16(t.gray);
    int x = 0;
    for (; x + 16 <= width - 1; x += 16) {
        // The row below is the one met for the first time; prefetching past its end is harmless.
        _mm_prefetch(reinterpret_cast<const char*>(down + 4 * x + 2048), _MM_HINT_T0);
        __m128i result[2];
        for (int half = 0; half < 2; ++half) {
            __m128i b32[2];
            __m128i g32[2];
            for (int q = 0; q < 2; ++q) {
                const int p = 4 * (x + 8 * half + 4 * q);  // byte offset of four pixels
                const __m128i v = absDiff(load(up + p), load(down + p));
                const __m128i h = absDiff(load(mid + p - 4), load(mid + p + 4));
                b32[q] = channelSum(load(mid + p), _mm_setzero_si128());
                g32[q] = channelSum(v, h);
            }
            result[half] = values(_mm_packs_epi32(b32[0], b32[1]), _mm_packs_epi32(g32[0], g32[1]),
                                  black, gradient, gray);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_packus_epi16(result[0], result[1]));
    }
    scalarSpan(up, mid, down, x < 1 ? 1 : x, width - 1, t, out);
}

}  // namespace

RowKernel sse2Row() {
    return &row;
}

}  // namespace filter_detail

#else

filter_detail::RowKernel filter_detail::sse2Row() {
    return nullptr;
}

#endif
