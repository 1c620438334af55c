#pragma once

#include "filter/PixelImage.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The black-and-white filter. A pixel darker than the black threshold keeps its own grey level;
// every other pixel takes its value from the strength of the edges around it: black for very
// strong edges, near-black, grey, and white for flat areas. The outermost rows and columns are
// always black. This header depends on nothing but the standard library.

struct FilterThresholds {
    std::int16_t black = 60;      // B, "Black Filter"
    std::int16_t gradient = 180;  // G, "Gradient Filter"
    std::int16_t gray = 50;       // Y, "Gray Filter"

    bool operator==(const FilterThresholds&) const = default;
};

// The largest picture the filter takes.
inline constexpr int kFilterMaxWidth = 8192;
inline constexpr int kFilterMaxHeight = 8193;

// Renders the width × height picture at `source` (4 bytes a pixel: blue, green, red and a byte
// that is never read; `sourceStride` bytes a row) into `grey` (one byte a pixel, `greyStride`
// bytes a row). Red, green and blue of the result would all be equal, so one byte carries them.
// Raises std::overflow_error for a picture over the size limits, before writing anything.
// The buffers must not overlap. Thread-safe: it keeps no state.
void ApplyBlackWhiteFilter(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width,
                           int height, FilterThresholds thresholds, std::uint8_t* grey,
                           std::ptrdiff_t greyStride);

// The same for a picture that arrives a band of rows at a time: rows first .. first + count - 1
// of the result, the same pixels as the whole picture gives. `source` points to the source's row
// `first`, and rows first - 1 and first + count (where the picture has them) lie one stride
// before and after the band; `grey` points to the result's row `first`.
void ApplyBlackWhiteFilterRows(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width,
                               int height, int first, int count, FilterThresholds thresholds,
                               std::uint8_t* grey, std::ptrdiff_t greyStride);

// The same over images; the result has the source's size.
GreyImage ApplyBlackWhiteFilter(const BgrxImage& source, FilterThresholds thresholds);

// A kernel behind the filter, for tests and benchmarks: all give the same result. "scalar" is the
// plain one-pixel-at-a-time loop; the others are one SIMD kernel compiled for each target the
// build has (SSSE3, SSE4, AVX2, AVX-512 on x86; NEON, SVE on ARM), named after it.
struct FilterKernel {
    std::string name;
    bool runs = true;  // false where this processor lacks the target's instructions
};

// Every kernel built in: the scalar loop first, then the SIMD targets from the least to the best.
std::vector<FilterKernel> CompiledFilterKernels();

// Those this processor runs, in the same order; the last is the one the filter uses.
std::vector<FilterKernel> AvailableFilterKernels();

// The filter through the kernel of that name; raises std::invalid_argument when there is none
// or the processor cannot run it.
void ApplyBlackWhiteFilter(const FilterKernel& kernel, const std::uint8_t* source,
                           std::ptrdiff_t sourceStride, int width, int height,
                           FilterThresholds thresholds, std::uint8_t* grey,
                           std::ptrdiff_t greyStride);
