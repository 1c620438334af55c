#include "engine/formats/PictureProbe.h"

#include "engine/formats/PictureFormat.h"

PictureType PictureTypeOf(std::span<const std::uint8_t> head) {
    for (const PictureFormat* format : AllFormats()) {
        if (format->claims(head)) {
            return format->type();
        }
    }
    return PictureType::Unknown;
}

PictureProbe ProbePicture(std::span<const std::uint8_t> bytes) {
    PictureProbe p;
    p.type = PictureTypeOf(bytes);
    FormatOf(p.type).probe(bytes, p);
    return p;
}

std::uint64_t PictureProbe::workingBytes() const {
    return FormatOf(type).workingBytes(*this);
}

std::uint64_t PictureProbe::costEstimate(std::uint64_t fileBytes) const {
    if (width <= 0 || height <= 0) {
        return fileBytes / 16;  // about a photo's bytes a pixel
    }
    const double pixels = double(width) * double(height);
    return static_cast<std::uint64_t>(pixels * FormatOf(type).nanosPerPixel(*this));
}
