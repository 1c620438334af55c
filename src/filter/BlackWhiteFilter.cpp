#include "filter/BlackWhiteFilter.h"

#include "filter/FilterKernels.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace filter_detail {

void scalarRow(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down, int width,
               const FilterThresholds& t, std::uint8_t* out) {
    scalarSpan(up, mid, down, 1, width - 1, t, out);
}

}  // namespace filter_detail

namespace {

using filter_detail::RowKernel;

struct NamedKernel {
    std::string name;
    RowKernel row;
    bool runs;
};

// The scalar loop, then the SIMD targets from the least to the best.
const std::vector<NamedKernel>& kernels() {
    static const std::vector<NamedKernel> all = [] {
        std::vector<NamedKernel> list{{"scalar", &filter_detail::scalarRow, true}};
        const auto targets = filter_detail::HighwayKernels();
        for (auto t = targets.rbegin(); t != targets.rend(); ++t) {
            list.push_back({t->name, t->row, t->runs});
        }
        return list;
    }();
    return all;
}

RowKernel kernelFor(const FilterKernel& kernel) {
    for (const NamedKernel& k : kernels()) {
        if (k.name == kernel.name && k.runs) {
            return k.row;
        }
    }
    return nullptr;
}

RowKernel fastestKernel() {
    static const RowKernel fastest = kernelFor(AvailableFilterKernels().back());
    return fastest;
}

void checkSize(int width, int height) {
    if (width > kFilterMaxWidth || height > kFilterMaxHeight) {
        throw std::overflow_error("Overflow: the picture is " + std::to_string(width) + " x " +
                                  std::to_string(height) + " pixels; the filter takes at most " +
                                  std::to_string(kFilterMaxWidth) + " x " +
                                  std::to_string(kFilterMaxHeight));
    }
}

// Rows first .. first + count - 1 of the result; see ApplyBlackWhiteFilterRows.
void filterRows(RowKernel row, const std::uint8_t* source, std::ptrdiff_t sourceStride, int width,
                int height, int first, int count, const FilterThresholds& t, std::uint8_t* grey,
                std::ptrdiff_t greyStride) {
    checkSize(width, height);
    if (width <= 0 || height <= 0) {
        return;
    }
    for (int k = 0; k < count; ++k) {
        const int y = first + k;
        std::uint8_t* out = grey + greyStride * k;
        if (y == 0 || y == height - 1) {
            std::memset(out, 0, width);  // the one-pixel frame is black
            continue;
        }
        const std::uint8_t* mid = source + sourceStride * k;
        row(mid - sourceStride, mid, mid + sourceStride, width, t, out);
        out[0] = 0;  // after the row: the kernels may write pixel 0
        out[width - 1] = 0;
    }
}

void filterWith(RowKernel row, const std::uint8_t* source, std::ptrdiff_t sourceStride, int width,
                int height, const FilterThresholds& t, std::uint8_t* grey,
                std::ptrdiff_t greyStride) {
    filterRows(row, source, sourceStride, width, height, 0, height, t, grey, greyStride);
}

}  // namespace

std::vector<FilterKernel> CompiledFilterKernels() {
    std::vector<FilterKernel> list;
    for (const NamedKernel& k : kernels()) {
        list.push_back({k.name, k.runs});
    }
    return list;
}

std::vector<FilterKernel> AvailableFilterKernels() {
    std::vector<FilterKernel> list = CompiledFilterKernels();
    std::erase_if(list, [](const FilterKernel& k) { return !k.runs; });
    return list;
}

void ApplyBlackWhiteFilter(const FilterKernel& kernel, const std::uint8_t* source,
                           std::ptrdiff_t sourceStride, int width, int height,
                           FilterThresholds thresholds, std::uint8_t* grey,
                           std::ptrdiff_t greyStride) {
    RowKernel row = kernelFor(kernel);
    if (row == nullptr) {
        throw std::invalid_argument("This processor cannot run that filter kernel");
    }
    filterWith(row, source, sourceStride, width, height, thresholds, grey, greyStride);
}

void ApplyBlackWhiteFilter(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width,
                           int height, FilterThresholds thresholds, std::uint8_t* grey,
                           std::ptrdiff_t greyStride) {
    filterWith(fastestKernel(), source, sourceStride, width, height, thresholds, grey, greyStride);
}

void ApplyBlackWhiteFilterRows(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width,
                               int height, int first, int count, FilterThresholds thresholds,
                               std::uint8_t* grey, std::ptrdiff_t greyStride) {
    filterRows(fastestKernel(), source, sourceStride, width, height, first, count, thresholds, grey,
               greyStride);
}

GreyImage ApplyBlackWhiteFilter(const BgrxImage& source, FilterThresholds thresholds) {
    checkSize(source.width(), source.height());
    GreyImage result(source.width(), source.height());
    ApplyBlackWhiteFilter(source.data(), source.stride(), source.width(), source.height(),
                          thresholds, result.data(), result.stride());
    return result;
}
