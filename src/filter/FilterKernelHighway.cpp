// The row kernel, written once and compiled by Highway for each SIMD target (SSSE3, SSE4, AVX2,
// AVX-512 on x86; NEON and SVE on ARM); the processor's best is chosen when the program runs.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "filter/FilterKernelHighway.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h

#include <hwy/cache_control.h>
#include <hwy/highway.h>

#include "filter/FilterKernels.h"

#include <algorithm>
#include <array>

// The fallback targets emulate vectors in plain C++; the scalar loop serves there.
#if HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
HWY_BEFORE_NAMESPACE();
namespace filter_detail {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D16 = hn::ScalableTag<std::uint16_t>;     // one lane per pixel
using D8 = hn::Repartition<std::uint8_t, D16>;  // the bytes of half as many pixels
using V16 = hn::Vec<D16>;
using V8 = hn::Vec<D8>;

constexpr int kPrefetchAhead = 2048;  // bytes: 512 pixels, measured best

V8 absDiff(V8 a, V8 b) {
    return hn::Or(hn::SaturatedSub(a, b), hn::SaturatedSub(b, a));
}

// Per pixel of the bytes: blue + green, and red, in its two 16-bit lanes; the fourth byte
// weighs 0. One instruction where the processor multiplies and adds byte pairs (SSSE3 and
// later), four elsewhere.
#if HWY_TARGET == HWY_SSSE3 || HWY_TARGET == HWY_SSE4
V16 pairSums(V8 pixels) {
    return V16{_mm_maddubs_epi16(pixels.raw, _mm_set1_epi32(0x00010101))};
}
#elif HWY_TARGET == HWY_AVX2
V16 pairSums(V8 pixels) {
    return V16{_mm256_maddubs_epi16(pixels.raw, _mm256_set1_epi32(0x00010101))};
}
#elif HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
V16 pairSums(V8 pixels) {
    return V16{_mm512_maddubs_epi16(pixels.raw, _mm512_set1_epi32(0x00010101))};
}
#else
V16 pairSums(V8 pixels) {
    const D16 d16;
    const V16 words = hn::BitCast(d16, pixels);
    const V16 keepBlueAndRed = hn::Set(d16, 0x00FF);
    // The high byte of the first lane of a pixel only: green, not the fourth byte.
    const V16 keepGreen = hn::BitCast(d16, hn::Set(hn::Repartition<std::uint32_t, D16>(), 0xFFu));
    return hn::Add(hn::And(words, keepBlueAndRed), hn::And(hn::ShiftRight<8>(words), keepGreen));
}
#endif

// Where the results of one step fit a 128-bit block, the pixel sums of the two halves are
// interleaved, the first half's in the even lanes, and the results sorted back at the end: cheaper
// there than gathering each half's lanes in order, which wider vectors do in one instruction.
constexpr bool kInterleaved = hn::MaxLanes(D16()) <= 16;

// Per pixel, the sums of its three channels, from the pair sums of the two halves.
V16 pixelSums(V16 lowerHalf, V16 upperHalf) {
    const D16 d16;
    if constexpr (kInterleaved) {
        const hn::Repartition<std::uint32_t, D16> d32;
        const auto lower = hn::BitCast(d32, lowerHalf);
        const auto upper = hn::BitCast(d32, upperHalf);
        return hn::OddEven(hn::BitCast(d16, hn::Add(upper, hn::ShiftLeft<16>(upper))),
                           hn::BitCast(d16, hn::Add(lower, hn::ShiftRight<16>(lower))));
    } else {
        return hn::Add(hn::ConcatEven(d16, upperHalf, lowerHalf),
                       hn::ConcatOdd(d16, upperHalf, lowerHalf));
    }
}

// The results as bytes, in pixel order.
void store(V16 results, std::uint8_t* out) {
    const hn::Rebind<std::uint8_t, D16> dOut;
    auto bytes = hn::DemoteTo(dOut, hn::BitCast(hn::RebindToSigned<D16>(), results));
    if constexpr (kInterleaved) {
        constexpr int n = static_cast<int>(hn::MaxLanes(D16()));
        alignas(16) static constexpr auto order = [] {
            std::array<std::uint8_t, n> o{};
            for (int i = 0; i < n; ++i) {
                o[i] = static_cast<std::uint8_t>(i < n / 2 ? 2 * i : 2 * (i - n / 2) + 1);
            }
            return o;
        }();
        bytes = hn::TableLookupBytes(bytes, hn::Load(dOut, order.data()));
    }
    hn::StoreU(bytes, dOut, out);
}

V16 divideBy3Rounded(V16 sum) {  // (sum + 1) / 3 for sums up to 1530
    const D16 d16;
    return hn::ShiftRight<1>(hn::MulHigh(hn::Add(sum, hn::Set(d16, 1)), hn::Set(d16, 43691)));
}

V16 divideBy10(V16 x) {  // x <= 1790
    return hn::MulHigh(x, hn::Set(D16(), 6554));
}

// The thresholds, a lane each. SVE's vectors have no size known to the compiler: they may be
// neither members nor array elements, so the four travel as arguments.
using VI = hn::Vec<hn::RebindToSigned<D16>>;

// The results of the pixels whose brightness sums and gradient sums are given; the same rule as
// pixelValue, a lane per pixel. `flat`: the largest e that is white, min(Y, G, 250). Inlined: a
// call per step costs 3 % of the filter's time.
HWY_INLINE V16 values(V16 brightnessSum, V16 gradientSum, VI black, VI gradient, VI gray, VI flat) {
    const D16 d16;
    const hn::RebindToSigned<D16> di;
    const V16 one = hn::Set(d16, 1);
    const V16 m = divideBy3Rounded(brightnessSum);
    const V16 e = divideBy3Rounded(gradientSum);
    const auto mi = hn::BitCast(di, m);
    const auto ei = hn::BitCast(di, e);
    const auto dark = hn::RebindMask(d16, hn::Gt(black, mi));
    // Flat, bright areas, common in pictures, are white throughout: skip the bands.
    if (hn::AllFalse(d16, hn::Or(hn::RebindMask(d16, hn::Gt(ei, flat)), dark))) {
        return hn::Set(d16, 255);
    }
    const V16 w = hn::Sub(hn::Set(d16, 255), e);
    const V16 nearBlack =
        hn::ShiftRight<3>(hn::Add(hn::Add(w, hn::Set(d16, 3)), hn::And(hn::ShiftRight<3>(w), one)));
    const V16 w7 = hn::Mul(w, hn::Set(d16, 7));
    const V16 odd = hn::And(divideBy10(w7), one);
    V16 grey = divideBy10(hn::Add(w7, hn::Add(hn::Set(d16, 4), odd)));
    // The double nearest 0.7 lies just below it: these three round down, not to even.
    const auto below = hn::Or(hn::Or(hn::Eq(w, hn::Set(d16, 45)), hn::Eq(w, hn::Set(d16, 85))),
                              hn::Eq(w, hn::Set(d16, 165)));
    grey = hn::Sub(grey, hn::IfThenElseZero(below, one));

    V16 v = hn::Set(d16, 255);
    v = hn::IfThenElse(hn::RebindMask(d16, hn::Gt(ei, gray)), grey, v);
    v = hn::IfThenElse(hn::RebindMask(d16, hn::Gt(ei, gradient)), nearBlack, v);
    v = hn::IfThenZeroElse(hn::RebindMask(d16, hn::Gt(ei, hn::Set(di, 250))), v);
    return hn::IfThenElse(dark, m, v);
}

// The pair sums of one half of a step's pixels, at byte `at` of the rows: brightness from the
// row itself, the gradient from the pixels above and below and left and right.
HWY_INLINE void halfSums(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down,
                         int at, V16& brightness, V16& gradient) {
    const D8 d8;
    brightness = pairSums(hn::LoadU(d8, mid + at));
    gradient = hn::Add(pairSums(absDiff(hn::LoadU(d8, up + at), hn::LoadU(d8, down + at))),
                       pairSums(absDiff(hn::LoadU(d8, mid + at - 4), hn::LoadU(d8, mid + at + 4))));
}

// Lanes(D16) pixels from pixel x on.
HWY_INLINE void step(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down,
                     int x, VI black, VI gradient, VI gray, VI flat, std::uint8_t* out) {
    // The row below is the one met for the first time; the hardware's own prefetch falls
    // behind on it. Prefetching past the row's end is harmless.
    hwy::Prefetch(down + 4 * x + kPrefetchAhead);
    hwy::Prefetch(down + 4 * x + kPrefetchAhead + 64);
    const int half = 4 * static_cast<int>(hn::Lanes(D16())) / 2;  // bytes in one D8 vector
    V16 brightness0, gradient0, brightness1, gradient1;
    halfSums(up, mid, down, 4 * x, brightness0, gradient0);
    halfSums(up, mid, down, 4 * x + half, brightness1, gradient1);
    store(values(pixelSums(brightness0, brightness1), pixelSums(gradient0, gradient1), black,
                 gradient, gray, flat),
          out + x);
}

// Lanes(D16) pixels at a time, the rest one by one.
void HighwayRow(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down,
                int width, const FilterThresholds& ft, std::uint8_t* out) {
    const hn::RebindToSigned<D16> di;
    const VI black = hn::Set(di, ft.black);
    const VI gradient = hn::Set(di, ft.gradient);
    const VI gray = hn::Set(di, ft.gray);
    const VI flat = hn::Set(di, std::min<std::int16_t>({ft.gray, ft.gradient, 250}));
    const int pixels = static_cast<int>(hn::Lanes(D16()));
    int x = 0;
    for (; x + pixels <= width - 1; x += pixels) {
        step(up, mid, down, x, black, gradient, gray, flat, out);
    }
    if (x < width - 1 && width - 1 - pixels >= 1) {
        // The last pixels: one more step ending at the row's last interior pixel, over some done
        // already (with the same results), costs less than they do one by one, and a small
        // picture's rows are mostly such ends.
        step(up, mid, down, width - 1 - pixels, black, gradient, gray, flat, out);
    } else {
        scalarSpan(up, mid, down, x < 1 ? 1 : x, width - 1, ft, out);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace filter_detail
HWY_AFTER_NAMESPACE();
#endif

#if HWY_ONCE
namespace filter_detail {

std::vector<TargetKernel> HighwayKernels() {
    // Each compiled target once, the best first: the SIMD library's lowest bit is its best
    // target (on ARM the fixed-width SVE2_128 and SVE_256 come before SVE2 and SVE).
    std::pair<std::int64_t, RowKernel> compiled[] = {
        {HWY_AVX3_DL, HWY_CHOOSE_AVX3_DL(HighwayRow)},   {HWY_AVX3, HWY_CHOOSE_AVX3(HighwayRow)},
        {HWY_AVX2, HWY_CHOOSE_AVX2(HighwayRow)},         {HWY_SSE4, HWY_CHOOSE_SSE4(HighwayRow)},
        {HWY_SSSE3, HWY_CHOOSE_SSSE3(HighwayRow)},       {HWY_SVE2, HWY_CHOOSE_SVE2(HighwayRow)},
        {HWY_SVE_256, HWY_CHOOSE_SVE_256(HighwayRow)},   {HWY_SVE, HWY_CHOOSE_SVE(HighwayRow)},
        {HWY_SVE2_128, HWY_CHOOSE_SVE2_128(HighwayRow)}, {HWY_NEON, HWY_CHOOSE_NEON(HighwayRow)},
    };
    std::sort(std::begin(compiled), std::end(compiled),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    const std::int64_t supported = SupportedSimdTargets();
    std::vector<TargetKernel> kernels;
    for (const auto& [target, row] : compiled) {
        if (row != nullptr) {
            kernels.push_back({target, hwy::TargetName(target), row, (supported & target) != 0});
        }
    }
    return kernels;
}

}  // namespace filter_detail
#endif
