// Bytes as a picture file: decoded, filtered and encoded into memory, as a batch would. Every
// failure must be a RuntimeError; anything else (a crash, a hang, memory beyond the cap) is a
// finding, and so is a JPEG whose band-by-band result or failure differs from the whole picture's.
// Built for libFuzzer with clang, or, with FuzzReplay.cpp, to replay the seeds.
#include "base/RuntimeError.h"
#include "engine/FilterWhileDecoding.h"
#include "engine/PictureLoader.h"
#include "engine/output/JpegWriter.h"
#include "filter/BlackWhiteFilter.h"

#include "FuzzApplication.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    StartFuzzApplication();
    const std::vector<std::uint8_t> bytes(data, data + size);
    const QString path = QStringLiteral("input");
    std::string wholeFailure;
    GreyImage grey;
    try {
        grey = ApplyBlackWhiteFilter(DecodePicture(bytes, path), {});
    } catch (const RuntimeError& e) {
        // A clear failure is a right answer to a bad file.
        wholeFailure = e.description();
    }
    if (wholeFailure.empty() && EncodeGreyJpeg(grey, 85).size() == 0) {
        std::abort();
    }
    GreyImageSink bands;
    try {
        if (!FilterJpegWhileDecoding(bytes, path, {}, bands)) {
            return 0;
        }
    } catch (const RuntimeError& e) {
        if (e.description() != wholeFailure) {
            std::abort();
        }
        return 0;
    }
    if (!wholeFailure.empty() || bands.image.width() != grey.width() ||
        bands.image.height() != grey.height()) {
        std::abort();
    }
    for (int y = 0; y < grey.height(); ++y) {
        if (std::memcmp(bands.image.row(y), grey.row(y), grey.width()) != 0) {
            std::abort();
        }
    }
    return 0;
}
