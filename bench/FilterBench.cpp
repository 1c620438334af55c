// The filter on a photograph of 5120 × 2880 (14.7 megapixels), side by side: each kernel the
// build has (the scalar loop and one per SIMD target; a target this processor lacks is listed
// with an error), the hand-written AVX2 kernel the program had before, a copy
// of the source buffer (the floor of touching every byte), and one picture's whole work
// (decode, filter, encode) for the filter's share of it, loaded whole and a band at a time.
//
//     build/bench/filter_bench [--benchmark_repetitions=5]
//
// The picture is honeywave.jpg from the folder named by TONVALER_BENCH_DIR, by default the
// shared benchmark pictures beside the project.
#include "engine/FilterWhileDecoding.h"
#include "engine/PictureLoader.h"
#include "engine/output/JpegEncoder.h"
#include "engine/output/JpegWriter.h"
#include "filter/BlackWhiteFilter.h"
#include "filter/FilterKernels.h"

#include <QString>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

filter_detail::RowKernel HandWrittenAvx2Row();

namespace {

QString picturePath() {
    const char* folder = std::getenv("TONVALER_BENCH_DIR");
    return QString::fromUtf8(folder != nullptr ? folder : TONVALER_DEFAULT_BENCH_DIR) +
           QStringLiteral("/honeywave.jpg");
}

const BgrxImage& picture() {
    static const BgrxImage image = LoadPicture(picturePath());
    return image;
}

void filterWith(benchmark::State& state, const FilterKernel& kernel) {
    const BgrxImage& p = picture();
    GreyImage out(p.width(), p.height());
    for (auto _ : state) {
        ApplyBlackWhiteFilter(kernel, p.data(), p.stride(), p.width(), p.height(), {}, out.data(),
                              out.stride());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * p.width() * p.height());
}

// The hand-written AVX2 kernel the program had before its kernel was written once for every
// target, kept here to compare with.
void BM_FilterHandWrittenAvx2(benchmark::State& state) {
    const filter_detail::RowKernel row = HandWrittenAvx2Row();
    if (row == nullptr) {
        state.SkipWithError("this processor has no AVX2");
        return;
    }
    const BgrxImage& p = picture();
    GreyImage out(p.width(), p.height());
    for (auto _ : state) {
        for (int y = 1; y < p.height() - 1; ++y) {
            row(p.row(y - 1), p.row(y), p.row(y + 1), p.width(), {}, out.row(y));
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * p.width() * p.height());
}

void BM_CopySource(benchmark::State& state) {
    const BgrxImage& p = picture();
    BgrxImage copy(p.width(), p.height());
    for (auto _ : state) {
        std::memcpy(copy.data(), p.data(), p.byteCount());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * p.width() * p.height());
}

// Decode, filter with the default kernel, encode at quality 85 into memory.
void BM_WholePicture(benchmark::State& state) {
    const QString path = picturePath();
    for (auto _ : state) {
        const BgrxImage p = LoadPicture(path);
        const GreyImage grey = ApplyBlackWhiteFilter(p, {});
        const EncodedBytes jpeg = EncodeGreyJpeg(grey, 85);
        benchmark::DoNotOptimize(jpeg.data());
    }
    state.SetItemsProcessed(state.iterations() * picture().width() * picture().height());
}

// The same work as the batch does it: read, decode, filter and encode a band at a time.
void BM_PictureInBands(benchmark::State& state) {
    const QString path = picturePath();
    for (auto _ : state) {
        JpegEncoder encoder(85);
        FilterJpegWhileDecoding(ReadPicture(path), path, {}, encoder);
        const EncodedBytes jpeg = encoder.finish();
        benchmark::DoNotOptimize(jpeg.data());
    }
    state.SetItemsProcessed(state.iterations() * picture().width() * picture().height());
}

BENCHMARK(BM_FilterHandWrittenAvx2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopySource)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholePicture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PictureInBands)->Unit(benchmark::kMillisecond);

}  // namespace

// One benchmark per kernel the build has; a kernel this processor cannot run is named, not hidden.
int main(int argc, char** argv) {
    for (const FilterKernel& kernel : CompiledFilterKernels()) {
        benchmark::RegisterBenchmark(("BM_Filter/" + kernel.name).c_str(),
                                     [kernel](benchmark::State& state) {
                                         if (!kernel.runs) {
                                             state.SkipWithError(
                                                 "not run: this processor lacks "
                                                 "its instructions");
                                             return;
                                         }
                                         filterWith(state, kernel);
                                     })
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
