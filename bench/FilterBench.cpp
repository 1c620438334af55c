// The filter on a picture of 5120 × 2880 (14.7 megapixels): the fast path, the plain
// one-pixel-at-a-time loop, and a copy of the source buffer as the floor of touching every byte.
#include "convert/BlackWhiteFilter.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

namespace {

constexpr int kWidth = 5120;
constexpr int kHeight = 2880;

const BgrxImage& picture() {
    static const BgrxImage image = [] {
        BgrxImage p(kWidth, kHeight);
        std::mt19937 rng(14);
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = p.row(y);
            for (int x = 0; x < 4 * kWidth; ++x) {
                // Smooth areas with some texture, as in a photograph.
                row[x] = static_cast<std::uint8_t>(((x / 4 + y) / 8) % 256 + rng() % 24);
            }
        }
        return p;
    }();
    return image;
}

void filterWith(benchmark::State& state, FilterKernel kernel) {
    const BgrxImage& p = picture();
    GreyImage out(kWidth, kHeight);
    for (auto _ : state) {
        ApplyBlackWhiteFilter(kernel, p.data(), p.stride(), kWidth, kHeight, {}, out.data(),
                              out.stride());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_FilterScalar(benchmark::State& state) {
    filterWith(state, FilterKernel::Scalar);
}
void BM_FilterSse2(benchmark::State& state) {
    filterWith(state, FilterKernel::Sse2);
}
void BM_FilterAvx2(benchmark::State& state) {
    filterWith(state, FilterKernel::Avx2);
}

void BM_CopySource(benchmark::State& state) {
    const BgrxImage& p = picture();
    BgrxImage copy(kWidth, kHeight);
    for (auto _ : state) {
        std::memcpy(copy.data(), p.data(), p.byteCount());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

BENCHMARK(BM_FilterScalar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterSse2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterAvx2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopySource)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
