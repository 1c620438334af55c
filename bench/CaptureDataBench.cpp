// What carrying the capture data costs a picture: reading the source's Exif and XMP and making
// the output's (the format's captureData), beside the whole conversion of the same file in memory
// (decode, filter, encode, a band at a time, without the capture data), for each shared benchmark
// picture.
//
//     build/bench/capture_data_bench [--benchmark_repetitions=5]
#include "engine/FilterWhileDecoding.h"
#include "engine/PictureLoader.h"
#include "engine/formats/PictureFormat.h"
#include "engine/output/JpegEncoder.h"

#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

QString folder() {
    const char* given = std::getenv("TONVALER_BENCH_DIR");
    return QString::fromUtf8(given != nullptr ? given : TONVALER_DEFAULT_BENCH_DIR);
}

const PictureContent& content(const QString& name) {
    static std::map<QString, PictureContent> read;
    auto found = read.find(name);
    if (found == read.end()) {
        found = read.emplace(name, ReadPicture(QDir(folder()).filePath(name))).first;
    }
    return found->second;
}

void captureData(benchmark::State& state, const QString& name) {
    const PictureContent& c = content(name);
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatOf(c.probe.type)
                                     .captureData(c.bytes.span(), static_cast<int>(c.probe.width),
                                                  static_cast<int>(c.probe.height)));
    }
}

void conversion(benchmark::State& state, const QString& name) {
    const PictureContent& c = content(name);
    for (auto _ : state) {
        JpegEncoder encoder(85);
        FilterJpegWhileDecoding(c, name, {}, encoder);
        benchmark::DoNotOptimize(encoder.finish());
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (const char* name : {"bythewater.jpg", "darkesthour.jpg", "honeywave.jpg"}) {
        const QString file = QString::fromLatin1(name);
        benchmark::RegisterBenchmark((std::string("capture data/") + name).c_str(), captureData,
                                     file)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("conversion/") + name).c_str(), conversion, file)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
