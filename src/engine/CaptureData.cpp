#include "engine/CaptureData.h"

#include <exiv2/exiv2.hpp>

#include <mutex>

namespace {

// A JPEG segment holds 65,533 bytes after its length: "Exif\0\0" or the XMP name goes first.
constexpr std::size_t kMostExif = 65533 - 6;
constexpr std::size_t kMostXmp = 65533 - 29;

void startOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
        Exiv2::enableBMFF(true);
    });
}

// Tags of the source's own storage, which would misdescribe the output: DNG's and the colour
// filter's, and the strip and sample layout (exiv2 drops the strips, sub-images and thumbnail
// itself).
bool describesStorage(const Exiv2::Exifdatum& d) {
    if (d.groupName() != "Image") {
        return false;
    }
    const std::uint16_t tag = d.tag();
    return tag == 0x00FE || tag == 0x0102 || tag == 0x0103 || tag == 0x0115 || tag == 0x011C ||
           tag == 0x828D || tag == 0x828E || (tag >= 0xC612 && tag <= 0xCFFF);
}

std::string exifFor(Exiv2::ExifData exif, int width, int height, Exiv2::ByteOrder order) {
    if (exif.empty()) {
        return {};
    }
    Exiv2::ExifThumb(exif).erase();
    for (auto d = exif.begin(); d != exif.end();) {
        d = describesStorage(*d) ? exif.erase(d) : std::next(d);
    }
    exif["Exif.Image.Orientation"] = std::uint16_t(1);
    for (const char* key : {"Exif.Image.ImageWidth", "Exif.Photo.PixelXDimension"}) {
        exif[key] = std::uint32_t(width);
    }
    for (const char* key : {"Exif.Image.ImageLength", "Exif.Photo.PixelYDimension"}) {
        exif[key] = std::uint32_t(height);
    }
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order,
                              exif);
    if (blob.empty() || blob.size() > kMostExif) {
        return {};
    }
    return std::string(blob.begin(), blob.end());
}

std::string xmpFor(Exiv2::XmpData xmp) {
    if (xmp.empty()) {
        return {};
    }
    if (xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation")) != xmp.end()) {
        xmp["Xmp.tiff.Orientation"] = "1";
    }
    std::string packet;
    if (Exiv2::XmpParser::encode(
            packet, xmp,
            Exiv2::XmpParser::useCompactFormat | Exiv2::XmpParser::omitAllFormatting) != 0 ||
        packet.size() > kMostXmp) {
        return {};
    }
    return packet;
}

}  // namespace

CaptureData CaptureDataFor(std::span<const std::uint8_t> source, int width, int height) {
    CaptureData data;
    try {
        startOnce();
        const auto image =
            Exiv2::ImageFactory::open(source.data(), static_cast<long>(source.size()));
        if (image.get() == nullptr) {
            return data;
        }
        image->readMetadata();
        try {
            data.exif = exifFor(image->exifData(), width, height, image->byteOrder());
        } catch (const std::exception&) {
            data.exif.clear();  // the Exif alone is left out
        }
        try {
            data.xmp = xmpFor(image->xmpData());
        } catch (const std::exception&) {
            data.xmp.clear();
        }
    } catch (const std::exception&) {
        // Malformed metadata, or a type exiv2 does not read: the picture goes without.
    }
    return data;
}
