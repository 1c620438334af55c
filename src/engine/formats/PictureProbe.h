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

// What a picture is decoded from when its decoder decodes pieces apart and assembles them (a HEIF
// grid's tiles, its alpha): what memory and time are charged by beside the picture's own size,
// which a crop may make far smaller. All 0 for a picture decoded whole.
struct DecodedPieces {
    std::uint64_t pixels = 0;         // of all the pieces, one decoded twice counted twice
    std::uint64_t largestPixels = 0;  // of the largest piece
    std::uint64_t canvasPixels = 0;   // of the pictures assembled from pieces, before any crop
    std::uint32_t count = 0;
    bool av1 = false;     // coded in AV1, whose decoder keeps more a pixel than HEVC's
    bool turned = false;  // turned, before any crop, into a copy
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
    // Channels stored: JPEG's colour components, 8 for 16-bit PNG colour, 4 for HEIF with alpha,
    // and JPEG XL's colour and extra channels (alpha among them).
    int components = 0;
    int bitsPerSample = 8;  // of HEIF and JPEG XL pictures; 8 otherwise
    // Of a JPEG XL (JxlFormat): how its first frame is coded, and what makes its picture when it
    // is more than one frame over the canvas.
    struct Jxl {
        bool lossy = false;    // in its XYB colour
        bool modular = false;  // in the modular mode rather than VarDCT's blocks
        bool noise = false;    // with noise made for it
        bool splines = false;  // with splines drawn on it
        // The pixels its decoder makes (each frame's own and the canvas it is blended on); 0
        // for one frame over the canvas.
        std::uint64_t layeredPixels = 0;
        std::uint64_t largestFrame = 0;  // the pixels of the largest frame, when layered
        int keptCanvases = 0;            // those its decoder keeps for later frames meanwhile
        // The frames its headers show to make the first picture, itself included (1 for a
        // still); frames libjxl does not report are not among them.
        int frames = 0;
    } jxl;
    // Samples stored a pixel (JPEG): 3 for full colour, 1.5 with the colour halved both ways.
    double samplesPerPixel = 0;
    DecodedPieces pieces;  // HEIF
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
