// The preview's JPEG round trip of a 14.7-megapixel photograph's filtered picture, after one step
// of the Black Filter (60 to 61, 9 % of the blocks change) and of the Gray Filter (50 to 55,
// 1.3 %): the whole picture, only the blocks that changed (with the size's estimate), and the
// file's size alone (which follows the pixels after a step).
//
//     build/bench/round_trip_bench [--benchmark_repetitions=5]
#include "engine/JpegRoundTrip.h"
#include "engine/PictureLoader.h"
#include "filter/BlackWhiteFilter.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

const std::atomic<bool> go{false};

struct Step {
    GreyImage was, now;
    JpegRoundTrip before;
};

const BgrxImage& photograph() {
    static const BgrxImage picture = [] {
        const char* folder = std::getenv("TONVALER_BENCH_DIR");
        return LoadPicture(
            QString::fromUtf8(folder != nullptr ? folder : TONVALER_DEFAULT_BENCH_DIR) +
            QStringLiteral("/honeywave.jpg"));
    }();
    return picture;
}

Step made(const char* name, FilterThresholds from, FilterThresholds to) {
    Step s{ApplyBlackWhiteFilter(photograph(), from), ApplyBlackWhiteFilter(photograph(), to), {}};
    s.before = RoundTripWhole(s.was, 85, 2, go);
    const auto estimated =
        RoundTripChanged(s.now, s.was, s.before.pixels, s.before.fileBytes, 85, 2, go).fileBytes;
    const auto exact = EncodedBytesWhole(s.now, 85, 2, go);
    std::printf("%s step: file of %llu bytes, estimated %llu (%+.3f %%)\n", name,
                static_cast<unsigned long long>(exact), static_cast<unsigned long long>(estimated),
                100.0 * (double(estimated) - double(exact)) / double(exact));
    return s;
}

// 0: the Black Filter's step; 1: the Gray Filter's.
const Step& step(std::int64_t which) {
    static const Step black = made("Black Filter", {60, 180, 50}, {61, 180, 50});
    static const Step gray = made("Gray Filter", {60, 180, 50}, {60, 180, 55});
    return which == 0 ? black : gray;
}

void Whole(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(RoundTripWhole(step(0).now, 85, 2, go));
    }
}
BENCHMARK(Whole)->Unit(benchmark::kMillisecond)->UseRealTime();

void ChangedBlocksOnly(benchmark::State& state) {
    const Step& s = step(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            RoundTripChanged(s.now, s.was, s.before.pixels, s.before.fileBytes, 85, 2, go));
    }
}
BENCHMARK(ChangedBlocksOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void FileSizeAlone(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(EncodedBytesWhole(step(0).now, 85, 2, go));
    }
}
BENCHMARK(FileSizeAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
