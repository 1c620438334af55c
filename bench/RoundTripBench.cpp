// The preview's JPEG round trip of a 14.7-megapixel photograph's filtered picture, after a step
// of the Black Filter (60 to 61, 9 % of the blocks change; 60 to 65, the arrow key's step, 19 %)
// and of the Gray Filter (50 to 55, 1.3 %): the whole picture, only the blocks that changed, the
// size's estimate that follows them, and the file's exact size (which follows once the slider
// rests).
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
    std::vector<int> changed;
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
    Step s{
        ApplyBlackWhiteFilter(photograph(), from), ApplyBlackWhiteFilter(photograph(), to), {}, {}};
    s.before = RoundTripWhole(s.was, 85, 2, go);
    const JpegRoundTrip trip =
        RoundTripChanged(s.now, s.was, s.before.pixels, s.before.fileBytes, 85, 2, go);
    s.changed = trip.changed;
    const auto estimated =
        trip.estimated ? EstimatedBytes(s.now, s.was, trip.changed, s.before.fileBytes, 85, 2, go)
                       : trip.fileBytes;
    const auto exact = EncodedBytesWhole(s.now, 85, 2, go);
    std::printf("%s step: file of %llu bytes, estimated %llu (%+.3f %%)\n", name,
                static_cast<unsigned long long>(exact), static_cast<unsigned long long>(estimated),
                100.0 * (double(estimated) - double(exact)) / double(exact));
    return s;
}

// 0: the Black Filter's step of 1; 1: the Gray Filter's; 2: the Black Filter's step of 5.
const Step& step(std::int64_t which) {
    static const Step black = made("Black Filter, 1", {60, 180, 50}, {61, 180, 50});
    static const Step gray = made("Gray Filter, 5", {60, 180, 50}, {60, 180, 55});
    static const Step black5 = made("Black Filter, 5", {60, 180, 50}, {65, 180, 50});
    return which == 0 ? black : which == 1 ? gray : black5;
}

// Into the memory of the result before, as the preview does.
void Whole(benchmark::State& state) {
    GreyImage spare;
    for (auto _ : state) {
        JpegRoundTrip trip = RoundTripWhole(step(0).now, 85, 2, go, std::move(spare));
        benchmark::DoNotOptimize(trip.pixels.data());
        spare = std::move(trip.pixels);
    }
}
BENCHMARK(Whole)->Unit(benchmark::kMillisecond)->UseRealTime();

void ChangedBlocksOnly(benchmark::State& state) {
    const Step& s = step(state.range(0));
    GreyImage spare;
    for (auto _ : state) {
        JpegRoundTrip trip = RoundTripChanged(s.now, s.was, s.before.pixels, s.before.fileBytes, 85,
                                              2, go, std::move(spare));
        benchmark::DoNotOptimize(trip.pixels.data());
        spare = std::move(trip.pixels);
    }
}
BENCHMARK(ChangedBlocksOnly)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void SizeEstimate(benchmark::State& state) {
    const Step& s = step(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            EstimatedBytes(s.now, s.was, s.changed, s.before.fileBytes, 85, 2, go));
    }
}
BENCHMARK(SizeEstimate)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void FileSizeAlone(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(EncodedBytesWhole(step(0).now, 85, 2, go));
    }
}
BENCHMARK(FileSizeAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
