// Bytes as a picture file: what the header reader states and what the decoder makes must agree.
// A picture that decodes has the size the header stated, turned as the header's orientation
// says; a header that states no size is charged as the largest picture, so only a stated size
// is held to. Anything else is a finding: the memory budget and the size checks work from the
// header alone. Built for libFuzzer with clang, or, with FuzzReplay.cpp, to replay the seeds.
#include "base/RuntimeError.h"
#include "engine/PictureLoader.h"
#include "engine/formats/PictureFormat.h"
#include "engine/formats/PictureProbe.h"

#include "FuzzApplication.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    StartFuzzApplication();
    const std::span<const std::uint8_t> bytes(data, size);
    const PictureProbe probe = ProbePicture(bytes);
    BgrxImage picture;
    try {
        picture = DecodePicture(bytes, QStringLiteral("input"));
    } catch (const RuntimeError&) {
        return 0;  // a clear failure is a right answer to a bad file
    }
    if (probe.width <= 0 || probe.height <= 0) {
        return 0;
    }
    const bool turned = FormatOf(probe.type).statesOrientation();
    const long long width = turned ? probe.uprightWidth() : probe.width;
    const long long height = turned ? probe.uprightHeight() : probe.height;
    if (picture.width() != width || picture.height() != height) {
        std::abort();
    }
    return 0;
}
