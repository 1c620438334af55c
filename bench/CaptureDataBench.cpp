// What carrying the capture data costs a picture: reading the source's Exif and XMP and making
// the output's (the format's captureData), beside the whole conversion of the same file in memory
// (decode, filter, encode, a band at a time, without the capture data), for each shared benchmark
// picture.
//
//     build/bench/capture_data_bench [--whole] [--benchmark_repetitions=5]
//
// And the capture data of crafted files that would take seconds to read whole: each is left out
// unread, or never inflated.
#include "engine/FilterWhileDecoding.h"
#include "engine/PictureLoader.h"
#include "engine/formats/PictureFormat.h"
#include "engine/output/JpegEncoder.h"
#include "support/CaptureDataFiles.h"
#include "support/HeifGrids.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

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

// Files whose capture data would cost seconds to read whole; each is made once.
const std::vector<std::pair<std::string, QByteArray>>& crafted() {
    static const std::vector<std::pair<std::string, QByteArray>> files = [] {
        const QByteArray xmp20k = XmpPacketOf(20000);
        const QByteArray xmp40k = XmpPacketOf(40000);
        const QByteArray itxt = QByteArray("XML:com.adobe.xmp\0\0\0\0\0", 22);
        HeifGrid grid;
        grid.xmp = xmp20k;
        return std::vector<std::pair<std::string, QByteArray>>{
            {"PNG, XMP of 20,000 properties", PngWith(PngChunk("iTXt", itxt + xmp20k))},
            {"PNG, XMP of 40,000 properties", PngWith(PngChunk("iTXt", itxt + xmp40k))},
            {"PNG, 200 colour profiles of 40 MB", PngWith(ColourProfileChunks(200, 40 << 20))},
            {"HEIC grid, XMP of 20,000 properties", HeifGridBytesOf(BgrxImage(128, 64), grid)},
            {"TIFF, XMP of 20 MB", TiffWithXmp(XmpPacketOf(1000000))},
            {"TIFF, 20,000 tags after the pixels", TiffWithTagsAfterPixels(20000)},
        };
    }();
    return files;
}

// With `whole`, read by exiv2 as everything was before (CaptureDataFor): for comparison only, run
// given --whole (the 20 MB packet alone takes minutes).
void craftedCaptureData(benchmark::State& state, std::size_t index, bool whole) {
    const QByteArray& file = crafted()[index].second;
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(file.constData()),
                          std::size_t(file.size()));
    const PictureProbe probe = ProbePicture(bytes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(whole ? CaptureDataFor(bytes, 40, 30)
                                       : FormatOf(probe.type).captureData(bytes, 40, 30));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);  // the test pictures' encoders
    bool whole = false;
    for (int k = 1; k < argc; ++k) {
        if (std::string(argv[k]) == "--whole") {
            whole = true;
            std::copy(argv + k + 1, argv + argc, argv + k);
            --argc;
            break;
        }
    }
    for (const char* name : {"bythewater.jpg", "darkesthour.jpg", "honeywave.jpg"}) {
        const QString file = QString::fromLatin1(name);
        benchmark::RegisterBenchmark((std::string("capture data/") + name).c_str(), captureData,
                                     file)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("conversion/") + name).c_str(), conversion, file)
            ->Unit(benchmark::kMicrosecond);
    }
    for (std::size_t k = 0; k < crafted().size(); ++k) {
        benchmark::RegisterBenchmark(("crafted/" + crafted()[k].first).c_str(), craftedCaptureData,
                                     k, false)
            ->Unit(benchmark::kMicrosecond);
        if (whole) {
            benchmark::RegisterBenchmark(("crafted, read whole/" + crafted()[k].first).c_str(),
                                         craftedCaptureData, k, true)
                ->Unit(benchmark::kMillisecond)
                ->Iterations(1);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
