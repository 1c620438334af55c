#include "engine/formats/StrictHevcDecoder.h"

#include "engine/formats/CodedPictureSize.h"
#include "engine/formats/DecoderThreads.h"

#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <cstring>
#include <memory>
#include <new>
#include <optional>

// libheif copies an error's message only after it has freed the decoder that returned it, so
// every message here is a fixed text (libde265's are too).

namespace {

constexpr int kPriority = 200;  // libheif's own plugins say 100

heif_error ok() {
    return {heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

heif_error failed(const char* why) {
    return {heif_error_Decoder_plugin_error, heif_suberror_Unspecified, why};
}

heif_error outOfMemory() {
    return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, "out of memory"};
}

struct FreeContext {
    void operator()(de265_decoder_context* c) const { de265_free_decoder(c); }
};
struct FreeImage {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct FreeNclx {
    void operator()(heif_color_profile_nclx* p) const { heif_nclx_color_profile_free(p); }
};
using Image = std::unique_ptr<heif_image, FreeImage>;

struct Decoder {
    std::unique_ptr<de265_decoder_context, FreeContext> context;
    bool strict = false;
    std::optional<CodedSize> size;  // what the parameter sets pushed state
};

// Warnings about what libde265 can do, not about the data.
bool harmless(de265_error warning) {
    return warning == DE265_WARNING_NO_WPP_CANNOT_USE_MULTITHREADING ||
           warning == DE265_WARNING_NUMBER_OF_THREADS_LIMITED_TO_MAXIMUM;
}

// The picture's planes copied into a libheif picture, with the colour its stream describes
// (which the file's own description, when it has one, overrides in libheif).
heif_error converted(const de265_image* picture, bool strict, Image& out) {
    const de265_chroma chroma = de265_get_chroma_format(picture);
    const bool mono = chroma == de265_chroma_mono;
    heif_image* created = nullptr;
    heif_error e = heif_image_create(
        de265_get_image_width(picture, 0), de265_get_image_height(picture, 0),
        mono ? heif_colorspace_monochrome : heif_colorspace_YCbCr,
        static_cast<heif_chroma>(chroma),  // libheif numbers them as libde265 does
        &created);
    Image image(created);
    if (e.code != heif_error_Ok) {
        return e;
    }
    const int bits = de265_get_bits_per_pixel(picture, 0);
    const heif_channel channels[3] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    for (int c = 0; c < (mono ? 1 : 3); ++c) {
        if (de265_get_bits_per_pixel(picture, c) != bits) {
            return {heif_error_Unsupported_feature, heif_suberror_Unsupported_color_conversion,
                    "Channels with different number of bits per pixel are not supported"};
        }
        int stride = 0;
        const std::uint8_t* plane = de265_get_image_plane(picture, c, &stride);
        const int width = de265_get_image_width(picture, c);
        const int height = de265_get_image_height(picture, c);
        if (plane == nullptr || width <= 0 || height <= 0) {
            return {heif_error_Decoder_plugin_error, heif_suberror_Invalid_image_size,
                    "the HEVC picture has an empty plane"};
        }
        e = heif_image_add_plane(image.get(), channels[c], width, height, bits);
        if (e.code != heif_error_Ok) {
            return e;
        }
        int into = 0;
        std::uint8_t* target = heif_image_get_plane(image.get(), channels[c], &into);
        const std::size_t row = std::size_t(width) * std::size_t((bits + 7) / 8);
        for (int y = 0; y < height; ++y) {
            std::memcpy(target + std::ptrdiff_t(into) * y, plane + std::ptrdiff_t(stride) * y, row);
        }
    }
    const std::unique_ptr<heif_color_profile_nclx, FreeNclx> nclx(heif_nclx_color_profile_alloc());
    if (!nclx) {
        return outOfMemory();
    }
    const auto code = [](int v) { return static_cast<std::uint16_t>(v); };
    for (const heif_error set :
         {heif_nclx_color_profile_set_color_primaries(
              nclx.get(), code(de265_get_image_colour_primaries(picture))),
          heif_nclx_color_profile_set_transfer_characteristics(
              nclx.get(), code(de265_get_image_transfer_characteristics(picture))),
          heif_nclx_color_profile_set_matrix_coefficients(
              nclx.get(), code(de265_get_image_matrix_coefficients(picture)))}) {
        if (set.code != heif_error_Ok) {
            if (strict) {
                return set;
            }
            heif_image_add_decoding_warning(image.get(), set);
        }
    }
    nclx->full_range_flag = de265_get_image_full_range_flag(picture) != 0 ? 1 : 0;
    e = heif_image_set_nclx_color_profile(image.get(), nclx.get());
    if (e.code != heif_error_Ok) {
        return e;
    }
    out = std::move(image);
    return ok();
}

const char* name() {
    return "libde265 HEVC decoder, refusing damaged data";
}

void init() {
    de265_init();
}

void deinit() {
    de265_free();
}

int supports(heif_compression_format format) {
    return format == heif_compression_HEVC ? kPriority : 0;
}

heif_error newDecoder(void** out) {
    *out = nullptr;
    std::unique_ptr<Decoder> decoder(new (std::nothrow) Decoder);
    if (!decoder) {
        return outOfMemory();
    }
    decoder->context.reset(de265_new_decoder());
    if (!decoder->context) {
        return outOfMemory();
    }
    // A thread of its own, as libheif's own plugin starts, only where the engine lends one: in
    // libheif's threads for the tiles of a grid, which are the parallelism, and for a job with
    // no thread to spare, it decodes on the calling thread, as fast as with one waiting on it.
    if (ThreadsLentHere() > 0) {
        de265_start_worker_threads(decoder->context.get(), 1);
    }
    *out = decoder.release();
    return ok();
}

void freeDecoder(void* decoder) {
    delete static_cast<Decoder*>(decoder);
}

void setStrict(void* decoder, int flag) {
    static_cast<Decoder*>(decoder)->strict = flag != 0;
}

// The units of the item (its parameter sets first, which libheif puts before its data), each
// after its 4-byte length.
heif_error push(void* raw, const void* data, std::size_t size) {
    Decoder& decoder = *static_cast<Decoder*>(raw);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t at = 0;
    while (at < size) {
        if (size - at < 4) {
            return failed("the HEVC data end in a unit's length");
        }
        const std::size_t length = std::size_t(bytes[at]) << 24 | std::size_t(bytes[at + 1]) << 16 |
                                   std::size_t(bytes[at + 2]) << 8 | bytes[at + 3];
        at += 4;
        if (length > size - at) {
            return failed("the HEVC data hold a unit longer than what remains of them");
        }
        const std::span<const std::uint8_t> unit(bytes + at, length);
        if (unit.size() >= 2 && (unit[0] >> 1 & 0x3F) == 33) {  // a sequence parameter set
            const std::optional<CodedSize> stated = HevcParameterSetSize(unit);
            if (!stated) {
                return failed("an HEVC sequence parameter set cannot be read");
            }
            if (decoder.size && !(*stated == *decoder.size)) {
                return failed("the HEVC sequence parameter sets state different picture sizes");
            }
            decoder.size = stated;
        }
        const de265_error e =
            de265_push_NAL(decoder.context.get(), unit.data(), int(length), 0, nullptr);
        if (e != DE265_OK) {
            return failed(de265_get_error_text(e));
        }
        at += length;
    }
    return ok();
}

heif_error decode(void* raw, heif_image** out) {
    *out = nullptr;
    Decoder& decoder = *static_cast<Decoder*>(raw);
    de265_decoder_context* context = decoder.context.get();
    de265_error e = de265_flush_data(context);
    if (e != DE265_OK) {
        return failed(de265_get_error_text(e));
    }
    Image picture;
    int pictures = 0;
    const char* warning = nullptr;
    int more = 1;
    while (more != 0) {
        more = 0;
        e = de265_decode(context, &more);
        if (e != DE265_OK) {
            return failed(de265_get_error_text(e));
        }
        for (de265_error w = de265_get_warning(context); w != DE265_OK;
             w = de265_get_warning(context)) {
            if (warning == nullptr && !harmless(w)) {
                warning = de265_get_error_text(w);
            }
        }
        while (const de265_image* decoded = de265_get_next_picture(context)) {
            heif_error c = ok();
            if (++pictures == 1) {
                c = converted(decoded, decoder.strict, picture);
            }
            de265_release_next_picture(context);
            if (c.code != heif_error_Ok) {
                return c;
            }
        }
    }
    if (warning != nullptr) {
        return failed(warning);
    }
    if (pictures != 1) {
        return failed(pictures == 0 ? "the HEVC data hold no picture"
                                    : "the HEVC data hold more than one picture");
    }
    *out = picture.release();
    return ok();
}

const heif_decoder_plugin kPlugin{
    3,           name, init,   deinit,    supports,         newDecoder,
    freeDecoder, push, decode, setStrict, "strict-libde265"};

}  // namespace

const heif_decoder_plugin& StrictHevcDecoder() {
    return kPlugin;
}
