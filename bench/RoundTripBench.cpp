// The preview's JPEG round trip of a 14.7-megapixel photograph's filtered picture, after one
// step of the Black Filter (60 to 61): the whole picture, only the blocks that changed, and the
// file's size alone (which follows the pixels after a step).
//
//     build/bench/round_trip_bench [--benchmark_repetitions=5]
#include "engine/JpegRoundTrip.h"
#include "engine/PictureLoader.h"
#include "filter/BlackWhiteFilter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <thread>

namespace {

struct Step {
    GreyImage was, now;
    JpegRoundTrip before;
};

const Step& step() {
    static const Step s = [] {
        const char* folder = std::getenv("TONVALER_BENCH_DIR");
        const QString path =
            QString::fromUtf8(folder != nullptr ? folder : TONVALER_DEFAULT_BENCH_DIR) +
            QStringLiteral("/honeywave.jpg");
        const BgrxImage picture = LoadPicture(path);
        Step made{ApplyBlackWhiteFilter(picture, {60, 180, 50}),
                  ApplyBlackWhiteFilter(picture, {61, 180, 50}),
                  {}};
        const std::atomic<bool> go{false};
        made.before = RoundTripWhole(made.was, 85, 2, go);
        const auto estimated = RoundTripChanged(made.now, made.was, made.before.pixels,
                                                made.before.fileBytes, 85, 2, go)
                                   .fileBytes;
        const auto exact = EncodedBytesWhole(made.now, 85, 2, go);
        std::printf("file size after the step: %llu bytes, estimated %llu (%+.3f %%)\n",
                    static_cast<unsigned long long>(exact),
                    static_cast<unsigned long long>(estimated),
                    100.0 * (double(estimated) - double(exact)) / double(exact));
        return made;
    }();
    return s;
}

const std::atomic<bool> go{false};

void Whole(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(RoundTripWhole(step().now, 85, 2, go));
    }
}
BENCHMARK(Whole)->Unit(benchmark::kMillisecond)->UseRealTime();

void ChangedBlocksOnly(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(RoundTripChanged(step().now, step().was, step().before.pixels,
                                                  step().before.fileBytes, 85, 2, go));
    }
}
BENCHMARK(ChangedBlocksOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

void FileSizeAlone(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(EncodedBytesWhole(step().now, 85, 2, go));
    }
}
BENCHMARK(FileSizeAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
