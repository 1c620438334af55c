// Prints, for each JPEG XL file named, or without any for each the tests make (the contract's
// samples and costly files, and stills and animations of every coding at sizes from 1 x 1 to 12
// megapixels), the decoder's tasks counted on 1, 2 and 8 threads and again, its budget, and their
// ratio; then whether any count differed between runs, and the largest ratio of a file that
// decoded.
//
//     measure_jxl_work [FILE...]
#include "engine/formats/JxlDecodeWork.h"
#include "formats/FormatSamples.h"
#include "formats/samples/SampleStructure.h"
#include "support/CameraPictures.h"
#include "support/TestPictures.h"

#include <QFile>
#include <QGuiApplication>

#include <jxl/encode.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct File {
    std::string name;
    QByteArray bytes;
};

JxlLayout layoutOf(bool lossless, bool modular, int bits, int effort = 3) {
    JxlLayout layout;
    layout.lossless = lossless;
    layout.modular = modular;
    layout.bits = bits;
    layout.effort = effort;
    return layout;
}

JxlLayout with(JxlLayout layout, JxlEncoderFrameSettingId id, std::int64_t value) {
    layout.options.emplace_back(int(id), value);
    return layout;
}

QByteArray still(int width, int height, const JxlLayout& layout, int seed = 0) {
    std::vector<JxlFrame> frames;
    frames.push_back({SamplePicture(width, height, seed)});
    return JxlFramesBytes(width, height, frames, layout);
}

// Frames of no duration under one that lasts, each kept in a slot of its own and the next put
// on it, the last two smaller than the canvas.
QByteArray layers(int width, int height, const JxlLayout& layout) {
    std::vector<JxlFrame> frames;
    frames.push_back({SamplePicture(width, height, 1), 0, 0, 0, 1});
    frames.push_back({SamplePicture(width / 2, height / 3, 2), 5, 7, 0, 2, 1});
    frames.push_back({SamplePicture(width / 3, height / 2, 3), width / 2, height / 3, 10, 0, 2});
    frames.push_back({SamplePicture(width, height, 4), 0, 0, 10});
    return JxlFramesBytes(width, height, frames, layout);
}

std::vector<File> madeFiles() {
    std::vector<File> files;
    for (const ContractSample& s : JxlSamples()) {
        files.push_back({"sample: " + s.name, s.bytes});
    }
    for (const CostlySample& s : JxlCostlySamples()) {
        files.push_back({"costly: " + s.name, s.bytes});
    }
    const struct {
        const char* name;
        int width, height;
        JxlLayout layout;
    } stills[] = {
        {"lossy, 1 x 1", 1, 1, layoutOf(false, false, 8)},
        {"lossless, 1 x 1", 1, 1, layoutOf(true, false, 8)},
        {"lossy modular, 1 x 1", 1, 1, layoutOf(false, true, 8)},
        {"lossy, 1 x 3001", 1, 3001, layoutOf(false, false, 8)},
        {"lossless, 3001 x 1", 3001, 1, layoutOf(true, false, 8)},
        {"lossy, 257 x 129", 257, 129, layoutOf(false, false, 8)},
        {"lossless, 255 x 257", 255, 257, layoutOf(true, false, 8)},
        {"lossy effort 7, 1023 x 769", 1023, 769, layoutOf(false, false, 8, 7)},
        {"lossless effort 7, 1023 x 769", 1023, 769, layoutOf(true, false, 8, 7)},
        {"lossy 16-bit, 1025 x 1023", 1025, 1023, layoutOf(false, false, 16)},
        {"lossless 16-bit, 1025 x 1023", 1025, 1023, layoutOf(true, false, 16)},
        {"lossy modular, 1025 x 1023", 1025, 1023, layoutOf(false, true, 8)},
        {"lossy modular 16-bit, 1025 x 1023", 1025, 1023, layoutOf(false, true, 16)},
        {"lossy with noise, 1025 x 1023", 1025, 1023,
         [] {
             JxlLayout l = layoutOf(false, false, 8);
             l.noise = true;
             return l;
         }()},
        {"lossy with a DC frame, 2049 x 1537", 2049, 1537,
         [] {
             JxlLayout l = layoutOf(false, false, 8);
             l.dcFrame = true;
             return l;
         }()},
        {"lossy modular with a DC frame, 2049 x 1537", 2049, 1537,
         [] {
             JxlLayout l = layoutOf(false, true, 8);
             l.dcFrame = true;
             return l;
         }()},
        {"lossy, 3 extra channels, 1025 x 1023", 1025, 1023,
         [] {
             JxlLayout l = layoutOf(false, false, 8);
             l.extraChannels = 3;
             return l;
         }()},
        {"lossless 16-bit, 3 extra channels, 1025 x 1023", 1025, 1023,
         [] {
             JxlLayout l = layoutOf(true, false, 16);
             l.extraChannels = 3;
             return l;
         }()},
        {"lossless 16-bit, 10 extra channels, 513 x 511", 513, 511,
         [] {
             JxlLayout l = layoutOf(true, false, 16);
             l.extraChannels = 10;
             return l;
         }()},
        {"lossy 16-bit, 10 extra channels, 513 x 511", 513, 511,
         [] {
             JxlLayout l = layoutOf(false, false, 16);
             l.extraChannels = 10;
             return l;
         }()},
        {"lossy, progressive AC, 1025 x 1023", 1025, 1023,
         with(layoutOf(false, false, 8), JXL_ENC_FRAME_SETTING_PROGRESSIVE_AC, 1)},
        {"lossy, progressive in precision, 1025 x 1023", 1025, 1023,
         with(layoutOf(false, false, 8), JXL_ENC_FRAME_SETTING_QPROGRESSIVE_AC, 1)},
        {"lossless, squeezed (responsive), 1025 x 1023", 1025, 1023,
         with(layoutOf(true, false, 8), JXL_ENC_FRAME_SETTING_RESPONSIVE, 1)},
        {"lossless, groups of 128, 1025 x 1023", 1025, 1023,
         with(layoutOf(true, false, 8), JXL_ENC_FRAME_SETTING_MODULAR_GROUP_SIZE, 0)},
        {"lossless, groups of 1024, 1025 x 1023", 1025, 1023,
         with(layoutOf(true, false, 8), JXL_ENC_FRAME_SETTING_MODULAR_GROUP_SIZE, 3)},
        {"lossy, upsampled 2x, 1025 x 1023", 1025, 1023,
         with(layoutOf(false, false, 8), JXL_ENC_FRAME_SETTING_RESAMPLING, 2)},
        {"lossy modular, upsampled 8x, 1025 x 1023", 1025, 1023,
         with(layoutOf(false, true, 8), JXL_ENC_FRAME_SETTING_RESAMPLING, 8)},
        {"lossy, patches, 1025 x 1023", 1025, 1023,
         with(layoutOf(false, false, 8, 7), JXL_ENC_FRAME_SETTING_PATCHES, 1)},
        {"lossy, 4000 x 3000", 4000, 3000, layoutOf(false, false, 8)},
        {"lossless, 4000 x 3000", 4000, 3000, layoutOf(true, false, 8, 1)},
    };
    for (const auto& s : stills) {
        files.push_back({s.name, still(s.width, s.height, s.layout)});
    }
    files.push_back(
        {"layers in slots, lossy, 1025 x 1023", layers(1025, 1023, layoutOf(false, false, 8))});
    files.push_back({"layers in slots, lossless 16-bit, 1025 x 1023",
                     layers(1025, 1023, layoutOf(true, false, 16))});
    files.push_back(
        {"layers in slots, lossy modular, 257 x 255", layers(257, 255, layoutOf(false, true, 8))});
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    std::vector<File> files;
    if (argc < 2) {
        files = madeFiles();
    }
    for (int k = 1; k < argc; ++k) {
        QFile file(QString::fromLocal8Bit(argv[k]));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", argv[k]);
            return 2;
        }
        files.push_back({argv[k], file.readAll()});
    }
    std::printf("| file | KB | tasks 1 / 2 / 8 / 2 threads | budget | ratio | outcome |\n");
    bool differed = false;
    double most = 0;
    for (const File& f : files) {
        const std::span<const std::uint8_t> bytes{
            reinterpret_cast<const std::uint8_t*>(f.bytes.constData()),
            std::size_t(f.bytes.size())};
        std::vector<JxlDecodeWork> runs;
        for (const std::size_t threads : {1, 2, 8, 2}) {
            runs.push_back(MeasureJxlDecodeWork(bytes, threads));
        }
        std::string counts;
        for (const JxlDecodeWork& w : runs) {
            counts += (counts.empty() ? "" : " / ") + std::to_string(w.tasks);
            differed = differed || w.tasks != runs[0].tasks || w.failure != runs[0].failure;
        }
        const double ratio =
            runs[0].budget > 0 ? double(runs[0].tasks) / double(runs[0].budget) : 0;
        if (runs[0].failure.empty()) {
            most = std::max(most, ratio);
        }
        std::printf("| %s | %lld | %s | %llu | %.4f | %s |\n", f.name.c_str(),
                    static_cast<long long>(f.bytes.size() / 1024), counts.c_str(),
                    static_cast<unsigned long long>(runs[0].budget), ratio,
                    runs[0].failure.empty() ? "decoded" : runs[0].failure.c_str());
        std::fflush(stdout);
    }
    std::printf("counts %s between thread counts and runs; largest ratio decoded: %.4f\n",
                differed ? "DIFFERED" : "identical", most);
    return differed ? 1 : 0;
}
