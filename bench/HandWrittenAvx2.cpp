// The filter's AVX2 row kernel as it was written by hand, before the kernel was written once for
// every SIMD target: filter_bench compares the two.
#include "filter/FilterKernels.h"

filter_detail::RowKernel HandWrittenAvx2Row();

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <algorithm>

// Only the functions marked here use AVX2, so the rest of the program runs on any x86-64.
#define TONVALER_AVX2 __attribute__((target("avx2")))

namespace filter_detail {
namespace {

TONVALER_AVX2 __m256i load(const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

TONVALER_AVX2 __m256i absDiff(__m256i a, __m256i b) {
    return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
}

// Per pixel of eight: blue + green and red, in two 16-bit lanes; the fourth byte weighs 0.
TONVALER_AVX2 __m256i pairSums(__m256i pixels) {
    return _mm256_maddubs_epi16(pixels, _mm256_set1_epi32(0x00010101));
}

TONVALER_AVX2 __m256i divideBy3Rounded(__m256i sum) {  // (sum + 1) / 3 for sums up to 1530
    return _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_add_epi16(sum, _mm256_set1_epi16(1)),
                                                _mm256_set1_epi16(static_cast<short>(43691))),
                             1);
}

TONVALER_AVX2 __m256i divideBy10(__m256i x) {  // x <= 1790
    return _mm256_mulhi_epu16(x, _mm256_set1_epi16(6554));
}

constexpr int kPrefetchAhead = 2048;  // bytes: 512 pixels, measured best

TONVALER_AVX2 void prefetch(const std::uint8_t* p) {
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
}

struct Thresholds {
    __m256i black, gradient, gray;
    __m256i flat;  // the largest e that is white: min(Y, G, 250)
};

// Sixteen results from sixteen brightness sums and gradient sums, in 16-bit lanes.
TONVALER_AVX2 __m256i values(__m256i brightnessSum, __m256i gradientSum, const Thresholds& t) {
    const __m256i one = _mm256_set1_epi16(1);
    const __m256i m = divideBy3Rounded(brightnessSum);
    const __m256i e = divideBy3Rounded(gradientSum);
    // Flat, bright areas, common in pictures, are white throughout: skip the bands.
    const __m256i notWhite =
        _mm256_or_si256(_mm256_cmpgt_epi16(e, t.flat), _mm256_cmpgt_epi16(t.black, m));
    if (_mm256_testz_si256(notWhite, notWhite)) {
        return _mm256_set1_epi16(255);
    }
    const __m256i w = _mm256_sub_epi16(_mm256_set1_epi16(255), e);
    const __m256i nearBlack =
        _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(w, _mm256_set1_epi16(3)),
                                           _mm256_and_si256(_mm256_srli_epi16(w, 3), one)),
                          3);
    const __m256i w7 = _mm256_mullo_epi16(w, _mm256_set1_epi16(7));
    const __m256i odd = _mm256_and_si256(divideBy10(w7), one);
    __m256i grey = divideBy10(_mm256_add_epi16(w7, _mm256_add_epi16(_mm256_set1_epi16(4), odd)));
    const __m256i below =
        _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi16(w, _mm256_set1_epi16(45)),
                                        _mm256_cmpeq_epi16(w, _mm256_set1_epi16(85))),
                        _mm256_cmpeq_epi16(w, _mm256_set1_epi16(165)));
    grey = _mm256_add_epi16(grey, below);

    __m256i v = _mm256_set1_epi16(255);
    v = _mm256_blendv_epi8(v, grey, _mm256_cmpgt_epi16(e, t.gray));
    v = _mm256_blendv_epi8(v, nearBlack, _mm256_cmpgt_epi16(e, t.gradient));
    v = _mm256_andnot_si256(_mm256_cmpgt_epi16(e, _mm256_set1_epi16(250)), v);
    return _mm256_blendv_epi8(v, m, _mm256_cmpgt_epi16(t.black, m));
}

// Sixteen pixels starting at byte offset p: their results in 16-bit lanes, in the lane order
// that hadd leaves (pixels 0-3, 8-11 | 4-7, 12-15).
TONVALER_AVX2 __m256i sixteen(const std::uint8_t* up, const std::uint8_t* mid,
                              const std::uint8_t* down, int p, const Thresholds& t) {
    __m256i brightness[2];
    __m256i gradient[2];
    for (int q = 0; q < 2; ++q) {
        const int at = p + 32 * q;
        brightness[q] = pairSums(load(mid + at));
        gradient[q] = _mm256_add_epi16(pairSums(absDiff(load(up + at), load(down + at))),
                                       pairSums(absDiff(load(mid + at - 4), load(mid + at + 4))));
    }
    return values(_mm256_hadd_epi16(brightness[0], brightness[1]),
                  _mm256_hadd_epi16(gradient[0], gradient[1]), t);
}

// Thirty-two pixels at a time, the rest one by one.
TONVALER_AVX2 void row(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down,
                       int width, const FilterThresholds& ft, std::uint8_t* out) {
    const Thresholds t{_mm256_set1_epi16(ft.black), _mm256_set1_epi16(ft.gradient),
                       _mm256_set1_epi16(ft.gray),
                       _mm256_set1_epi16(std::min<std::int16_t>({ft.gray, ft.gradient, 250}))};
    // After packing, the 4-pixel groups stand in the order 0, 2, 4, 6, 1, 3, 5, 7.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int x = 0;
    for (; x + 32 <= width - 1; x += 32) {
        // The row below is the one met for the first time; the hardware's own prefetch falls
        // behind on it. Prefetching past the row's end is harmless.
        prefetch(down + 4 * x + kPrefetchAhead);
        prefetch(down + 4 * x + kPrefetchAhead + 64);
        const __m256i lo = sixteen(up, mid, down, 4 * x, t);
        const __m256i hi = sixteen(up, mid, down, 4 * (x + 16), t);
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(lo, hi), order);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), bytes);
    }
    scalarSpan(up, mid, down, x < 1 ? 1 : x, width - 1, ft, out);
}

}  // namespace

}  // namespace filter_detail

filter_detail::RowKernel HandWrittenAvx2Row() {
    return __builtin_cpu_supports("avx2") ? &filter_detail::row : nullptr;
}

#else

filter_detail::RowKernel HandWrittenAvx2Row() {
    return nullptr;
}

#endif
