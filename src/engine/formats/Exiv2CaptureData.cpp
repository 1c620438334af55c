// The exiv2 module: the capture data of the files whose blocks the formats' own modules do not
// find (CaptureDataFor).
#include "base/RuntimeError.h"
#include "engine/formats/CaptureData.h"
#include "engine/formats/ExifForOutput.h"
#include "engine/formats/ExifIfd.h"
#include "engine/formats/ModuleEntries.h"
#include "engine/formats/ProgramModule.h"
#include "engine/formats/XmpForOutput.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kMostExif = kMostCarriedExif;
constexpr std::size_t kMostXmp = kMostCarriedXmp;

std::string tooLarge(const char* what, std::size_t bytes) {
    return CarriedTooLarge(what, bytes);
}

void startOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
        Exiv2::enableBMFF(true);
    });
}

// Tags of the source's own storage, which would misdescribe the grey output (exiv2 drops the
// strips, sub-images and thumbnail itself): the sample layout, tiles, colour tables, tone and
// colour definitions and the colour profile, the colour filter's pattern, and DNG's own.
constexpr std::uint16_t kStorageTags[] = {
    0x00FE, 0x0102, 0x0103, 0x0107, 0x0108, 0x0109, 0x010A, 0x0115, 0x0118, 0x0119,
    0x011C, 0x0122, 0x0123, 0x0124, 0x0125, 0x012D, 0x013D, 0x013E, 0x013F, 0x0140,
    0x0141, 0x0142, 0x0143, 0x0144, 0x0145, 0x0152, 0x0153, 0x0154, 0x0155, 0x015B,
    0x0211, 0x0212, 0x0213, 0x0214, 0x828D, 0x828E, 0x8773};

bool describesStorage(const Exiv2::Exifdatum& d) {
    if (d.groupName() != "Image") {
        return false;
    }
    const std::uint16_t tag = d.tag();
    return std::find(std::begin(kStorageTags), std::end(kStorageTags), tag) !=
               std::end(kStorageTags) ||
           (tag >= 0xC612 && tag <= 0xCFFF);
}

// An entry of a type TIFF does not have (a damaged block) is left out: readers stop at it.
bool malformed(const Exiv2::Exifdatum& d) {
    return d.typeId() < Exiv2::unsignedByte || d.typeId() > Exiv2::tiffDouble;
}

// Sets `key` to `value` once, whatever number of entries the source had for it.
template <typename Value>
void setOnce(Exiv2::ExifData& exif, const char* key, Value value) {
    const Exiv2::ExifKey exifKey(key);
    for (auto d = exif.findKey(exifKey); d != exif.end(); d = exif.findKey(exifKey)) {
        exif.erase(d);
    }
    exif[key] = value;
}

std::string exifFor(Exiv2::ExifData exif, int width, int height, Exiv2::ByteOrder order) {
    if (exif.empty()) {
        return {};
    }
    Exiv2::ExifThumb(exif).erase();
    for (auto d = exif.begin(); d != exif.end();) {
        d = describesStorage(*d) || malformed(*d) ? exif.erase(d) : std::next(d);
    }
    setOnce(exif, "Exif.Image.Orientation", std::uint16_t(1));
    for (const char* key : {"Exif.Image.ImageWidth", "Exif.Photo.PixelXDimension"}) {
        setOnce(exif, key, std::uint32_t(width));
    }
    for (const char* key : {"Exif.Image.ImageLength", "Exif.Photo.PixelYDimension"}) {
        setOnce(exif, key, std::uint32_t(height));
    }
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order,
                              exif);
    if (blob.empty() || blob.size() > kMostExif) {
        return {};
    }
    return std::string(blob.begin(), blob.end());
}

std::string xmpFor(Exiv2::XmpData xmp, int width, int height) {
    if (xmp.empty()) {
        return {};
    }
    // Where the XMP says them too: the orientation and the size are the output's.
    const std::pair<const char*, std::string> fields[] = {
        {"Xmp.tiff.Orientation", "1"},
        {"Xmp.tiff.ImageWidth", std::to_string(width)},
        {"Xmp.tiff.ImageLength", std::to_string(height)},
        {"Xmp.exif.PixelXDimension", std::to_string(width)},
        {"Xmp.exif.PixelYDimension", std::to_string(height)}};
    for (const auto& [key, value] : fields) {
        if (xmp.findKey(Exiv2::XmpKey(key)) != xmp.end()) {
            xmp[key] = value;
        }
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

// A TIFF-based file whose XMP (tag 700 of its first directory) is larger than an output carries:
// a copy in which that entry is an empty one of a private tag the output drops, so that exiv2
// neither reads nor parses the packet (its parse of a large one takes seconds, and it reads an
// entry of a type it does not know all the same), and the packet's size; nothing for the other
// files.
std::vector<std::uint8_t> withoutLargeXmp(std::span<const std::uint8_t> source,
                                          std::size_t& xmpBytes) {
    if (source.size() < 8 || !(std::memcmp(source.data(), "II*\0", 4) == 0 ||
                               std::memcmp(source.data(), "MM\0*", 4) == 0)) {
        return {};
    }
    const ExifBytes tiff(source, source[0] == 'I');
    const auto first = tiff.directory(tiff.u32(4));
    if (!first) {
        return {};
    }
    for (const ExifEntry& e : first->entries) {
        if (e.tag == 700 && e.bytes > kMostXmp) {
            std::vector<std::uint8_t> copy(source.begin(), source.end());
            copy[e.at] = source[0] == 'I' ? 0xFF : 0xCF;
            copy[e.at + 1] = source[0] == 'I' ? 0xCF : 0xFF;
            std::fill_n(copy.begin() + std::ptrdiff_t(e.at + 4), 4, 0);  // no values
            xmpBytes = std::size_t(e.bytes);
            return copy;
        }
    }
    return {};
}

CaptureData exiv2CaptureData(std::span<const std::uint8_t> given, int width, int height) {
    CaptureData data;
    std::size_t largeXmp = 0;
    const std::vector<std::uint8_t> copy = withoutLargeXmp(given, largeXmp);
    const std::span<const std::uint8_t> source = copy.empty() ? given : copy;
    try {
        startOnce();
        const auto image =
            Exiv2::ImageFactory::open(source.data(), static_cast<long>(source.size()));
        if (image.get() == nullptr) {
            return data;
        }
        image->readMetadata();
        try {
            // exiv2 keeps the previews of maker notes, and encodes the note as it read it: the
            // block it makes goes through the same rewrite as the others' for them.
            const std::string made = exifFor(image->exifData(), width, height, image->byteOrder());
            if (!made.empty()) {
                data.exif = ExifForOutput(
                    {reinterpret_cast<const std::uint8_t*>(made.data()), made.size()},
                    static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
                if (data.exif.size() > kMostExif) {
                    data.exif.clear();
                    data.leftOut = tooLarge("Exif", made.size());
                }
            }
        } catch (const std::exception&) {
            data.exif.clear();  // the Exif alone is left out
            data.leftOut = "its Exif is malformed";
        }
        try {
            data.xmp = xmpFor(image->xmpData(), width, height);
        } catch (const std::exception&) {
            data.xmp.clear();
            data.leftOut += std::string(data.leftOut.empty() ? "" : "; ") + "its XMP is malformed";
        }
    } catch (const std::exception&) {
        // Malformed metadata, or a type exiv2 does not read: the picture goes without.
        data = {};
        data.leftOut = "its capture data is malformed";
    }
    if (largeXmp > 0) {
        data.leftOut += (data.leftOut.empty() ? "" : "; ") + tooLarge("XMP", largeXmp);
    }
    return data;
}

const Exiv2ModuleEntries entries{&exiv2CaptureData};

}  // namespace

TONVALER_MODULE_ENTRIES("exiv2", entries)
