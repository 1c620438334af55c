// Bytes as a picture file: decoded, filtered and encoded into memory, as a batch would. Every
// failure must be a RuntimeError; anything else (a crash, a hang, memory beyond the cap) is a
// finding. Built for libFuzzer with clang, or, with FuzzReplay.cpp, to replay the seeds.
#include "convert/BlackWhiteFilter.h"
#include "convert/JpegWriter.h"
#include "convert/PictureLoader.h"
#include "shell/RuntimeError.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int argc = 1;
    static char name[] = "picture_fuzzer";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QGuiApplication(argc, argv);  // lives as long as the process
    }();
    (void)app;
    try {
        const BgrxImage picture =
            DecodePicture(std::vector<std::uint8_t>(data, data + size), QStringLiteral("input"));
        const GreyImage grey = ApplyBlackWhiteFilter(picture, {});
        const JpegBytes jpeg = EncodeGreyJpeg(grey, 85);
        if (jpeg.size() == 0) {
            std::abort();
        }
    } catch (const RuntimeError&) {
        // A clear failure is a right answer to a bad file.
    }
    return 0;
}
