#include "engine/formats/ByteReading.h"
#include "engine/formats/DecoderThreads.h"
#include "engine/formats/FormatSignatures.h"
#include "engine/formats/HeifLayout.h"
#include "engine/formats/InterleavedRows.h"
#include "engine/formats/LoadFailure.h"
#include "engine/formats/LoadedFormats.h"
#include "engine/formats/StrictAv1Decoder.h"
#include "engine/formats/StrictHevcDecoder.h"
#include "filter/BlackWhiteFilter.h"

#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

// HEIF files (HEIC from phones, and AVIF) through libheif: the primary picture, with the
// rotation, mirroring and cropping the file states applied, so that it comes upright; 10- and
// 12-bit pictures reduced to 8 bits (ToEightBits); alpha flattened over white. What the file's
// boxes say is checked first (HeifLayout), and its coded pictures are decoded by decoders that
// fail damaged data (StrictHevcDecoder, StrictAv1Decoder). Thread-safe.

namespace {

// The tiles libheif decodes at once (heif_context_set_max_decoding_threads), each with a decoder
// of its own, which keeps this besides what it keeps a pixel.
constexpr int kTileThreads = 4;
constexpr std::uint64_t kDecoderBytes = std::uint64_t(4) << 20;
// A decoder's start and end, for each piece: libaom's far dearer than libde265's (measured on
// grids of 1998 tiles, each converted in a fresh process: 550 to 850 us a tile for AV1).
constexpr double kHevcPieceNanos = 150e3;
constexpr double kAv1PieceNanos = 700e3;

struct FreeContext {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct FreeHandle {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct FreeImage {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct FreeOptions {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};

// The file's boxes read and its primary picture found; `error` says why not.
struct Primary {
    std::unique_ptr<heif_context, FreeContext> context;
    std::unique_ptr<heif_image_handle, FreeHandle> handle;
    std::string error;
};

// libheif's own words, without the line end some of them carry; our decoders' own, without the
// codes libheif puts before them.
std::string reasonOf(const heif_error& e) {
    std::string why = e.message != nullptr ? e.message : "unknown error";
    while (!why.empty() && std::isspace(static_cast<unsigned char>(why.back()))) {
        why.pop_back();
    }
    constexpr std::string_view decoders = "Decoder plugin generated an error: Unspecified: ";
    if (e.code == heif_error_Decoder_plugin_error && why.starts_with(decoders)) {
        why.erase(0, decoders.size());
    }
    return why;
}

Primary open(std::span<const std::uint8_t> bytes) {
    static std::once_flag once;
    std::call_once(once, [] {  // never undone: the process keeps them
        heif_init(nullptr);
        heif_register_decoder_plugin(&StrictHevcDecoder());
        heif_register_decoder_plugin(&StrictAv1Decoder());
    });
    Primary p;
    p.context.reset(heif_context_alloc());
    if (!p.context) {
        throw std::bad_alloc();
    }
    heif_error e = heif_context_read_from_memory_without_copy(p.context.get(), bytes.data(),
                                                              bytes.size(), nullptr);
    if (e.code == heif_error_Ok) {
        heif_image_handle* handle = nullptr;
        e = heif_context_get_primary_image_handle(p.context.get(), &handle);
        p.handle.reset(handle);
    }
    if (e.code != heif_error_Ok) {
        p.error = reasonOf(e);
        p.handle.reset();
    }
    return p;
}

RuntimeError failure(const QString& path, const std::string& why) {
    return CannotLoad(path, ErrorNumber::InvalidPicture,
                      "the picture is truncated or corrupt (" + why + ")");
}

std::unique_ptr<heif_image, FreeImage> decode(const QString& path, heif_image_handle* handle,
                                              heif_colorspace space, heif_chroma chroma,
                                              const heif_decoding_options& options) {
    heif_image* decoded = nullptr;
    const heif_error e = heif_decode_image(handle, &decoded, space, chroma, &options);
    std::unique_ptr<heif_image, FreeImage> image(decoded);
    if (e.code == heif_error_Unsupported_feature) {
        // This libheif mirrors only 8-bit pictures: a mirrored 10-bit one is beyond it.
        throw CannotLoad(path, ErrorNumber::InvalidPicture,
                         "the picture is not supported (" + reasonOf(e) + ")");
    }
    if (e.code != heif_error_Ok || !image) {
        throw failure(path, reasonOf(e));
    }
    return image;
}

// An 8-bit picture in planes of red, green and blue into `picture`; false for another form.
bool putPlanes(BgrxImage& picture, const heif_image* image) {
    if (heif_image_get_colorspace(image) != heif_colorspace_RGB ||
        heif_image_get_chroma_format(image) != heif_chroma_444) {
        return false;
    }
    const heif_channel channels[3] = {heif_channel_B, heif_channel_G, heif_channel_R};
    const std::uint8_t* planes[3] = {};
    int strides[3] = {};
    for (int c = 0; c < 3; ++c) {
        planes[c] = heif_image_get_plane_readonly(image, channels[c], &strides[c]);
        if (planes[c] == nullptr || heif_image_get_bits_per_pixel_range(image, channels[c]) != 8 ||
            heif_image_get_width(image, channels[c]) != picture.width() ||
            heif_image_get_height(image, channels[c]) != picture.height()) {
            return false;
        }
    }
    for (int y = 0; y < picture.height(); ++y) {
        const std::uint8_t* b = planes[0] + std::ptrdiff_t(strides[0]) * y;
        const std::uint8_t* g = planes[1] + std::ptrdiff_t(strides[1]) * y;
        const std::uint8_t* r = planes[2] + std::ptrdiff_t(strides[2]) * y;
        std::uint8_t* out = picture.row(y);
        for (int x = 0; x < picture.width(); ++x) {
            out[4 * x] = b[x];
            out[4 * x + 1] = g[x];
            out[4 * x + 2] = r[x];
            out[4 * x + 3] = 0;
        }
    }
    return true;
}

void probeHeif(std::span<const std::uint8_t> bytes, PictureProbe& probe) {
    // libheif reads the size even from the first bytes alone (a probe before the whole file is
    // read); the module's own reading says better what is wrong with a whole file.
    std::string libheifFault;
    try {
        const Primary p = open(bytes);
        if (p.handle) {
            probe.width = heif_image_handle_get_width(p.handle.get());
            probe.height = heif_image_handle_get_height(p.handle.get());
            probe.components = heif_image_handle_has_alpha_channel(p.handle.get()) ? 4 : 3;
            probe.bitsPerSample = heif_image_handle_get_luma_bits_per_pixel(p.handle.get());
        } else {
            libheifFault = p.error;
        }
    } catch (const std::bad_alloc&) {
        // The size stays unknown: the loader charges the most and decoding says what is wrong.
    }
    if (probe.width > kFilterMaxWidth || probe.height > kFilterMaxHeight) {
        return;  // refused for the size it states, whatever else is wrong
    }
    const HeifLayout layout = ReadHeifLayout(bytes);
    const std::string& fault = layout.fault.empty() ? libheifFault : layout.fault;
    if (!fault.empty()) {
        probe.truncation = "the picture is truncated or corrupt (" + fault + ")";
    } else if (!layout.unsupported.empty()) {
        probe.refused = layout.unsupported;
    }
    probe.pieces = layout.pieces;
}

BgrxImage decodeHeif(std::span<const std::uint8_t> bytes, const QString& path) {
    const Primary p = open(bytes);
    if (!p.handle) {
        throw failure(path, p.error);
    }
    heif_image_handle* handle = p.handle.get();
    const int statedWidth = heif_image_handle_get_width(handle);
    const int statedHeight = heif_image_handle_get_height(handle);
    CheckPictureSize(path, statedWidth, statedHeight);
    // A grid larger than the filter takes is refused by libheif before it makes the grid's
    // canvas, whatever the header states; it refuses a side as long as the limit, so the limit
    // is one more than the longest side taken.
    heif_context_set_maximum_image_size_limit(p.context.get(),
                                              std::max(kFilterMaxWidth, kFilterMaxHeight) + 1);
    // 0 decodes the tiles on this thread; with threads of libheif's, this one waits for them.
    const int lent = ThreadsLentHere();
    int tileThreads = kTileThreads;
    if (lent != kAsTheDecoderWould) {
        tileThreads = lent == 0 ? 0 : std::min(lent + 1, kTileThreads);
    }
    heif_context_set_max_decoding_threads(p.context.get(), tileThreads);
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    const bool deep = heif_image_handle_get_luma_bits_per_pixel(handle) > 8;
    const std::unique_ptr<heif_decoding_options, FreeOptions> options(
        heif_decoding_options_alloc());
    options->strict_decoding = 1;  // a colour description the stream garbles fails too
    // An 8-bit picture without alpha comes in planes of red, green and blue, interleaved here:
    // libheif's own interleaving takes longer than the rest of the conversion.
    const bool native = !deep && !alpha;
    std::unique_ptr<heif_image, FreeImage> image = decode(
        path, handle, heif_colorspace_RGB,
        native ? heif_chroma_444
        : deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
               : heif_chroma_interleaved_RGBA,
        *options);
    const int width = heif_image_get_primary_width(image.get());
    const int height = heif_image_get_primary_height(image.get());
    if (width != statedWidth || height != statedHeight) {
        // The memory charged and the limits went by the stated size.
        throw failure(path, "its header states " + std::to_string(statedWidth) + " x " +
                                std::to_string(statedHeight) + " pixels, its data holds " +
                                std::to_string(width) + " x " + std::to_string(height));
    }
    BgrxImage picture(width, height);
    if (native) {
        if (putPlanes(picture, image.get())) {
            return picture;
        }
        // Planes of another depth: libheif interleaves them.
        image = decode(path, handle, heif_colorspace_RGB, heif_chroma_interleaved_RGB, *options);
    }
    int stride = 0;
    const std::uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || heif_image_get_width(image.get(), heif_channel_interleaved) != width ||
        heif_image_get_height(image.get(), heif_channel_interleaved) != height) {
        throw failure(path, "no pixels decoded");
    }
    const InterleavedLayout layout{alpha ? 4 : 3,
                                   deep ? std::clamp(heif_image_get_bits_per_pixel_range(
                                                         image.get(), heif_channel_interleaved),
                                                     9, 16)
                                        : 8,
                                   alpha && heif_image_handle_is_premultiplied_alpha(handle) != 0};
    for (int y = 0; y < height; ++y) {
        PutInterleavedRow(picture, y, plane + static_cast<std::ptrdiff_t>(stride) * y, layout);
    }
    return picture;
}

// The first metadata item of `type` (and of `contentType` for "mime") that the primary picture
// has, whatever it is (a single picture, a grid), through libheif's references; none when it has
// none. One larger than `most` bytes is not read: `tooLarge` becomes its size.
std::vector<std::uint8_t> metadataOf(heif_image_handle* handle, const char* type,
                                     const char* contentType, std::size_t most,
                                     std::size_t& tooLarge) {
    constexpr int kLooked = 16;
    heif_item_id ids[kLooked];
    const int found = heif_image_handle_get_list_of_metadata_block_IDs(handle, type, ids, kLooked);
    for (int k = 0; k < found; ++k) {
        const char* content = heif_image_handle_get_metadata_content_type(handle, ids[k]);
        if (contentType != nullptr && (content == nullptr || std::strcmp(content, contentType))) {
            continue;
        }
        const std::size_t size = heif_image_handle_get_metadata_size(handle, ids[k]);
        if (size > most) {
            tooLarge = size;
            return {};
        }
        std::vector<std::uint8_t> data(size);
        if (heif_image_handle_get_metadata(handle, ids[k], data.data()).code != heif_error_Ok) {
            return {};
        }
        return data;
    }
    return {};
}

// The Exif item begins with the offset of its TIFF header (big-endian, after those 4 bytes); the
// XMP is a "mime" item of RDF.
CaptureData captureDataOf(std::span<const std::uint8_t> bytes, int width, int height) {
    const Primary p = open(bytes);
    if (!p.handle) {
        return {};
    }
    std::size_t exifTooLarge = 0;
    std::size_t xmpTooLarge = 0;
    const std::vector<std::uint8_t> exif =
        metadataOf(p.handle.get(), "Exif", nullptr, kMostExifRead + 4, exifTooLarge);
    const std::vector<std::uint8_t> xmp =
        metadataOf(p.handle.get(), "mime", "application/rdf+xml", kMostCarriedXmp, xmpTooLarge);
    std::span<const std::uint8_t> tiff;
    if (exif.size() >= 4) {
        const std::uint64_t skip = std::uint64_t(bytes::be32(exif, 0)) + 4;
        tiff = std::span(exif).subspan(std::min<std::uint64_t>(skip, exif.size()));
    }
    CaptureData data =
        CaptureDataOf(tiff, {reinterpret_cast<const char*>(xmp.data()), xmp.size()}, width, height);
    for (const auto& [tooLarge, what] : {std::pair{exifTooLarge, "Exif"}, {xmpTooLarge, "XMP"}}) {
        if (tooLarge > 0) {
            data.leftOut += std::string(data.leftOut.empty() ? "" : "; ") + "its " + what +
                            " is too large to carry (" + std::to_string(tooLarge) + " bytes)";
        }
    }
    return data;
}

class Heif final : public PictureFormat {
  public:
    PictureType type() const override { return PictureType::Heif; }
    const char* name() const override { return "HEIF"; }
    bool claims(Bytes head) const override { return ClaimsHeif(head); }
    void probe(Bytes bytes, PictureProbe& p) const override { probeHeif(bytes, p); }
    bool statesOrientation() const override { return true; }
    std::uint64_t workingBytes(const PictureProbe& p) const override {
        // The most of three stages, measured at their peak for each layout (12-megapixel
        // pictures, whole and in grids, at 8 and 10 bits, with alpha, turned, and the costly
        // grids; /usr/bin/time), with some room: decoding, where the decoders of the pieces in
        // flight work beside libheif's RGB planes of a grid's canvas (or of the picture, while its
        // alpha decodes); turning those planes into a copy; and handing over, where the planes
        // are cropped and converted for us and ours made.
        const bool deep = p.bitsPerSample > 8;
        const bool alpha = p.components > 3;
        const DecodedPieces& pieces = p.pieces;
        const std::uint64_t shown = ChargedPixels(p);
        const std::uint64_t largest = pieces.count > 0 ? pieces.largestPixels : shown;
        const std::uint64_t planes = pieces.canvasPixels > 0 ? pieces.canvasPixels : largest;
        const std::uint64_t inFlight =
            pieces.canvasPixels > 0 ? std::min<std::uint64_t>(pieces.count, kTileThreads) : 1;
        const std::uint64_t decoder = pieces.av1 ? (deep ? 28 : 17) : (deep ? 8 : 3);
        const std::uint64_t rgb = deep ? 6 : 3;
        const std::uint64_t handed = deep ? (alpha ? 18 : 16) : (alpha ? 8 : 7);
        const std::uint64_t decoding = inFlight * (decoder * largest + kDecoderBytes) +
                                       (pieces.canvasPixels > 0 || alpha ? rgb * planes : 0);
        const std::uint64_t turning = pieces.turned ? (2 * rgb + 1) * planes : 0;
        // A picture coded as one leaves libde265's memory, freed in hundreds of pieces, kept by
        // the allocator beyond what the later stages reuse (heaptrack: the heap peaks at 68 MB,
        // while decoding, the process at 132 MB). 12-megapixel HEIC so coded, files of 5 MB,
        // peaked 132.6 MB (8-bit) and 275.6 MB (10-bit), 7.5 and 6.7 MB above the charge
        // without this; with it about 5 % within what they may take (bench/heif-charge, medians
        // of 5). Grids of 512 x 512 tiles stay 24 % (10-bit) and 45 % (8-bit) within without it.
        const std::uint64_t kept = pieces.canvasPixels > 0 || pieces.av1 ? 0
                                   : deep                                ? shown
                                                                         : shown / 2;
        const std::uint64_t handing = rgb * planes + handed * shown + kept;
        return std::max({decoding, turning, handing});
    }
    double nanosPerPixel(const PictureProbe& p) const override {
        // Measured on 12-megapixel pictures and the costly grids: the decoders by the pixels of
        // every piece (a photograph's AV1 decodes in a third of the time of a busy picture's), a
        // piece's own start, and the filter and encoder by the picture's.
        const DecodedPieces& pieces = p.pieces;
        const double shown = double(ChargedPixels(p));
        const double decoded = pieces.count > 0 ? double(pieces.pixels) : shown;
        const bool deep = p.bitsPerSample > 8;
        const double codec = pieces.av1 ? (deep ? 110 : 80) : (deep ? 180 : 110);
        const double piece = pieces.av1 ? kAv1PieceNanos : kHevcPieceNanos;
        return (decoded * codec + double(pieces.count) * piece) / shown + 15;
    }
    BgrxImage decode(Bytes bytes, const PictureProbe&, const QString& path) const override {
        return decodeHeif(bytes, path);
    }
    CaptureData captureData(Bytes bytes, int width, int height) const override {
        return captureDataOf(bytes, width, height);
    }
};

}  // namespace

const PictureFormat& LoadedHeifFormat() {
    static const Heif format;
    return format;
}
