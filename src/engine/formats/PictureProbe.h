#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

enum class PictureType {
    Unknown,
    Jpeg,
    Png,
    Bmp,
    Gif,
    Ico,
    Tiff,
    Webp,
    Metafile,
    Xbm,
    Netpbm,
    Mng,
    Heif,  // HEIC and AVIF
    Jxl,   // JPEG XL
    Raw    // a camera's raw file
};

// What a file's own header says about the picture in it, read without decoding by the module of its
// kind (PictureFormat): the loader, the size limits, the memory budget and the choice of the band
// way all work from this one reading. Read without allocating, except for HEIF, JPEG XL and
// camera raw files, whose own libraries read their headers (boxes, bit fields, makers' metadata).
struct PictureProbe {
    PictureType type = PictureType::Unknown;
    long long width = 0;  // as stored, in pixels; 0 when the header does not say
    long long height = 0;
    int orientation = 1;  // as Exif numbers it (JPEG, TIFF, JPEG XL); 1 otherwise
    bool progressive = false;
    // Whether a JPEG comes in several scans (progressive, or a scan a component): its decoder
    // keeps every coefficient until the last.
    bool multiScan = false;
    int components = 0;     // colour channels stored (JPEG, and 8 for 16-bit PNG colour)
    int bitsPerSample = 8;  // of HEIF and JPEG XL pictures; 8 otherwise
    // Samples stored a pixel (JPEG): 3 for full colour, 1.5 with the colour halved both ways.
    double samplesPerPixel = 0;
    // The bytes a camera raw file's decoder makes of the sensor's whole data before it develops
    // the picture, whose size is the sensor's visible part; 0 for other kinds.
    std::uint64_t sensorBytes = 0;
    // Why the file cannot be whole, when its header says so: it is shorter than what the header
    // states. Empty when nothing was found.
    std::string truncation;
    // The kind of picture, when it is a valid one that its reader may not read ("floating-point
    // TIFF"): named when the reader fails.
    std::string unsupported;
    // Why the picture is refused before decoding: a kind that is not read ("12-bit JPEG"), or one
    // whose decoding no bound can be set on ("JPEG-compressed TIFF").
    std::string refused;

    long long uprightWidth() const { return orientation >= 5 ? height : width; }
    long long uprightHeight() const { return orientation >= 5 ? width : height; }
    // Whether a JPEG can be filtered band by band while it decodes.
    bool servesBands() const { return type == PictureType::Jpeg && orientation == 1; }
    // The memory its conversion is expected to take at the most, in bytes, beside the file's
    // own content, as its kind's module charges it (PictureFormat::workingBytes).
    std::uint64_t workingBytes() const;
    // The time its conversion is expected to take, in nanoseconds of one core of about 3 GHz,
    // for ordering work: from the pixels and the kind of file, or from `fileBytes` when the
    // header does not tell the size.
    std::uint64_t costEstimate(std::uint64_t fileBytes) const;
};

// The type that a file's first bytes announce (16 are enough): the first module that claims them.
PictureType PictureTypeOf(std::span<const std::uint8_t> head);

// Reads the header of the whole content `bytes` with its type's module. Never throws: what is
// wrong is in the result.
PictureProbe ProbePicture(std::span<const std::uint8_t> bytes);
