#include "engine/formats/CaptureData.h"

#include "base/RuntimeError.h"
#include "engine/formats/ExifForOutput.h"
#include "engine/formats/ExifIfd.h"
#include "engine/formats/ModuleEntries.h"
#include "engine/formats/ProgramModule.h"
#include "engine/formats/XmpForOutput.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kMostExif = kMostCarriedExif;
constexpr std::size_t kMostXmp = kMostCarriedXmp;

std::string tooLarge(const char* what, std::size_t bytes) {
    return CarriedTooLarge(what, bytes);
}

}  // namespace

std::string CarriedTooLarge(const char* what, std::size_t bytes) {
    return std::string("its ") + what + " is too large to carry (" + std::to_string(bytes) +
           " bytes)";
}

CaptureData CaptureDataFor(std::span<const std::uint8_t> source, int width, int height) {
    try {
        return ModuleEntriesOf<Exiv2ModuleEntries>("exiv2").captureDataFor(source, width, height);
    } catch (const RuntimeError& e) {
        CaptureData data;
        data.leftOut = "its capture data cannot be read: " + e.description();
        return data;
    }
}

namespace {

void leaveOut(CaptureData& data, const std::string& why) {
    data.leftOut += (data.leftOut.empty() ? "" : "; ") + why;
}

void addXmp(CaptureData& data, std::string_view xmp, std::uint32_t w, std::uint32_t h) {
    try {
        if (xmp.size() > kMostXmp) {
            leaveOut(data, tooLarge("XMP", xmp.size()));
        } else if (!xmp.empty()) {
            data.xmp = XmpForOutput(xmp, w, h);
            if (data.xmp.size() > kMostXmp) {
                data.xmp.clear();
                leaveOut(data, tooLarge("XMP", xmp.size()));
            }
        }
    } catch (const RuntimeError& e) {
        leaveOut(data, e.description());
    }
}

bool isTiff(std::span<const std::uint8_t> file) {
    return file.size() >= 8 &&
           (std::memcmp(file.data(), "II*\0", 4) == 0 || std::memcmp(file.data(), "MM\0*", 4) == 0);
}

// The XMP packet of a TIFF-based file: the bytes of tag 700 of its first directory.
std::string_view xmpOfTiff(std::span<const std::uint8_t> file) {
    const ExifBytes tiff(file, file[0] == 'I', 1 << 16);
    const auto first = tiff.directory(tiff.u32(4));
    for (const ExifEntry& e : first ? first->entries : std::vector<ExifEntry>{}) {
        if (e.tag == 700 && (e.type == 1 || e.type == 7)) {
            return {reinterpret_cast<const char*>(file.data() + e.value), std::size_t(e.bytes)};
        }
    }
    return {};
}

}  // namespace

CaptureData CaptureDataOfTiffFile(std::span<const std::uint8_t> file, int width, int height) {
    if (!isTiff(file)) {
        return CaptureDataFor(file, width, height);
    }
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);
    CaptureData data;
    try {
        std::optional<std::string> exif = ExifForOutputOfFile(file, w, h, kMostExif);
        if (!exif || exif->size() > kMostExif) {
            // Its values lie far apart in the file (a writer that puts them after the pixels):
            // exiv2 lays them out anew.
            return CaptureDataFor(file, width, height);
        }
        data.exif = std::move(*exif);
    } catch (const RuntimeError& e) {
        leaveOut(data, e.description());
    }
    addXmp(data, xmpOfTiff(file), w, h);
    return data;
}

CaptureData CaptureDataOf(std::span<const std::uint8_t> exif, std::string_view xmp, int width,
                          int height) {
    CaptureData data;
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);
    try {
        if (exif.size() > kMostExifRead) {
            leaveOut(data, tooLarge("Exif", exif.size()));
        } else if (!exif.empty()) {
            data.exif = ExifForOutput(exif, w, h);
            if (data.exif.size() > kMostExif) {
                data.exif.clear();
                leaveOut(data, tooLarge("Exif", exif.size()));
            }
        }
    } catch (const RuntimeError& e) {
        leaveOut(data, e.description());
    }
    addXmp(data, xmp, w, h);
    return data;
}
