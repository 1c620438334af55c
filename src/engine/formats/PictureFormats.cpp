#include "engine/formats/FormatModules.h"
#include "engine/formats/PictureFormat.h"
#include "filter/BlackWhiteFilter.h"

std::string PictureFormat::refusal(const PictureProbe& probe) const {
    if (!probe.truncation.empty()) {
        return probe.truncation;
    }
    if (!probe.refused.empty()) {
        return "the picture is not supported (" + probe.refused + ")";
    }
    return {};
}

BgrxImage PictureFormat::quickLook(Bytes, const PictureProbe&, const QString&, int) const {
    return {};
}

CaptureData PictureFormat::captureData(Bytes bytes, int width, int height) const {
    return CaptureDataFor(bytes, width, height);
}

const std::vector<const PictureFormat*>& AllFormats() {
    // The order their claims are tried in: every file that begins as a JPEG does is a JPEG,
    // whatever follows; camera raw files with a maker's signature come before TIFF, since some
    // are TIFF inside.
    static const std::vector<const PictureFormat*> all{
        &JpegFormat(),     &PngFormat(),  &GifFormat(), &BmpFormat(),   &RawFormat(),
        &TiffFormat(),     &HeifFormat(), &JxlFormat(), &WebpFormat(),  &IcoFormat(),
        &MetafileFormat(), &MngFormat(),  &XbmFormat(), &NetpbmFormat()};
    return all;
}

const PictureFormat& FormatOf(PictureType type) {
    for (const PictureFormat* format : AllFormats()) {
        if (format->type() == type) {
            return *format;
        }
    }
    return OtherQtFormat();
}

std::uint64_t ChargedPixels(const PictureProbe& probe) {
    return probe.width > 0 && probe.height > 0
               ? std::uint64_t(probe.width) * std::uint64_t(probe.height)
               : std::uint64_t(kFilterMaxWidth) * kFilterMaxHeight;
}
