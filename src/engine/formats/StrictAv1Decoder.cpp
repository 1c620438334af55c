#include "engine/formats/StrictAv1Decoder.h"

#include "engine/formats/CodedPictureSize.h"

#include <aom/aom_decoder.h>
#include <aom/aomdx.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>

// libheif copies an error's message only after it has freed the decoder that returned it, so
// every message here is a fixed text (libaom's error names are too).

namespace {

constexpr int kPriority = 200;  // dav1d's plugin says 150, libheif's over libaom 100

heif_error ok() {
    return {heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

heif_error failed(const char* why) {
    return {heif_error_Decoder_plugin_error, heif_suberror_Unspecified, why};
}

struct FreeImage {
    void operator()(heif_image* i) const { heif_image_release(i); }
};

struct Decoder {
    aom_codec_ctx_t codec{};
    bool open = false;
    bool strict = false;
    // The frame size the sequence headers pushed state, which the file's layout has checked to
    // be the item's: a frame may state another (frame_size_override_flag), which libaom decodes
    // as stated, leaving a grid's tile partly unpainted.
    std::optional<CodedSize> size;
    Decoder() = default;
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    ~Decoder() {
        if (open) {
            aom_codec_destroy(&codec);
        }
    }
};

// A colour code of the stream as stored: libaom copies the stream's 8 bits into its enums
// unchecked, and a value the enum does not name may not be read as the enum.
template <typename Enum>
std::uint16_t code(const Enum& stored) {
    std::underlying_type_t<Enum> raw;
    static_assert(sizeof raw == sizeof stored);
    std::memcpy(&raw, &stored, sizeof raw);
    return static_cast<std::uint16_t>(raw);
}

// The frame's planes copied into a libheif picture, with the colour its stream describes (which
// the file's own description, when it has one, overrides in libheif).
heif_error converted(const aom_image_t& frame, bool strict, heif_image** out) {
    const aom_img_fmt_t layout = static_cast<aom_img_fmt_t>(frame.fmt & ~AOM_IMG_FMT_HIGHBITDEPTH);
    if (layout != AOM_IMG_FMT_I420 && layout != AOM_IMG_FMT_I422 && layout != AOM_IMG_FMT_I444) {
        return {heif_error_Decoder_plugin_error, heif_suberror_Unsupported_image_type,
                "the AV1 frame is of a sampling that is not read"};
    }
    const heif_chroma chroma = frame.monochrome             ? heif_chroma_monochrome
                               : layout == AOM_IMG_FMT_I444 ? heif_chroma_444
                               : layout == AOM_IMG_FMT_I422 ? heif_chroma_422
                                                            : heif_chroma_420;
    heif_image* created = nullptr;
    heif_error e = heif_image_create(
        int(frame.d_w), int(frame.d_h),
        frame.monochrome ? heif_colorspace_monochrome : heif_colorspace_YCbCr, chroma, &created);
    std::unique_ptr<heif_image, FreeImage> image(created);
    if (e.code != heif_error_Ok) {
        return e;
    }
    heif_color_profile_nclx nclx{};
    nclx.version = 1;
    for (const heif_error set :
         {heif_nclx_color_profile_set_color_primaries(&nclx, code(frame.cp)),
          heif_nclx_color_profile_set_transfer_characteristics(&nclx, code(frame.tc)),
          heif_nclx_color_profile_set_matrix_coefficients(&nclx, code(frame.mc))}) {
        if (set.code != heif_error_Ok) {
            if (strict) {
                return set;
            }
            heif_image_add_decoding_warning(image.get(), set);
        }
    }
    nclx.full_range_flag = frame.range == AOM_CR_FULL_RANGE ? 1 : 0;
    e = heif_image_set_nclx_color_profile(image.get(), &nclx);
    if (e.code != heif_error_Ok) {
        return e;
    }
    const int bits = int(frame.bit_depth);
    // An 8-bit frame may come in 16-bit samples: kept in 8 as libheif wants it.
    const bool wideSamples = (frame.fmt & AOM_IMG_FMT_HIGHBITDEPTH) != 0;
    const heif_channel channels[3] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    for (int c = 0; c < (frame.monochrome ? 1 : 3); ++c) {
        int width = int(frame.d_w);
        int height = int(frame.d_h);
        if (c > 0) {
            width = (width + int(frame.x_chroma_shift)) >> frame.x_chroma_shift;
            height = (height + int(frame.y_chroma_shift)) >> frame.y_chroma_shift;
        }
        e = heif_image_add_plane(image.get(), channels[c], width, height, bits);
        if (e.code != heif_error_Ok) {
            return e;
        }
        int into = 0;
        std::uint8_t* target = heif_image_get_plane(image.get(), channels[c], &into);
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* row = frame.planes[c] + std::ptrdiff_t(frame.stride[c]) * y;
            std::uint8_t* to = target + std::ptrdiff_t(into) * y;
            if (wideSamples && bits <= 8) {
                for (int x = 0; x < width; ++x) {
                    std::uint16_t v;
                    std::memcpy(&v, row + 2 * x, 2);
                    to[x] = static_cast<std::uint8_t>(v);
                }
            } else {
                std::memcpy(to, row, std::size_t(width) * (wideSamples ? 2 : 1));
            }
        }
    }
    *out = image.release();
    return ok();
}

const char* name() {
    return "libaom AV1 decoder, refusing damaged data";
}

int supports(heif_compression_format format) {
    return format == heif_compression_AV1 ? kPriority : 0;
}

heif_error newDecoder(void** out) {
    *out = nullptr;
    std::unique_ptr<Decoder> decoder(new (std::nothrow) Decoder);
    if (!decoder) {
        return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, "out of memory"};
    }
    aom_codec_dec_cfg_t config{};
    config.threads = 1;
    config.allow_lowbitdepth = 1;
    const aom_codec_err_t e = aom_codec_dec_init(&decoder->codec, aom_codec_av1_dx(), &config, 0);
    if (e != AOM_CODEC_OK) {
        return failed(aom_codec_err_to_string(e));
    }
    decoder->open = true;
    *out = decoder.release();
    return ok();
}

void freeDecoder(void* decoder) {
    delete static_cast<Decoder*>(decoder);
}

void setStrict(void* decoder, int flag) {
    static_cast<Decoder*>(decoder)->strict = flag != 0;
}

heif_error push(void* raw, const void* data, std::size_t size) {
    Decoder& decoder = *static_cast<Decoder*>(raw);
    const Av1Sequence sequence = Av1SequenceSize({static_cast<const std::uint8_t*>(data), size});
    if (!sequence.fault.empty()) {
        return failed("the AV1 data are not whole units");
    }
    if (sequence.size) {
        if (decoder.size && !(*sequence.size == *decoder.size)) {
            return failed("the AV1 sequence headers state different frame sizes");
        }
        decoder.size = sequence.size;
    }
    const aom_codec_err_t e =
        aom_codec_decode(&decoder.codec, static_cast<const std::uint8_t*>(data), size, nullptr);
    return e == AOM_CODEC_OK ? ok() : failed(aom_codec_err_to_string(e));
}

heif_error decode(void* raw, heif_image** out) {
    *out = nullptr;
    Decoder& decoder = *static_cast<Decoder*>(raw);
    aom_codec_iter_t next = nullptr;
    const aom_image_t* frame = aom_codec_get_frame(&decoder.codec, &next);
    if (frame == nullptr) {
        return failed("the AV1 data hold no frame");
    }
    if (aom_codec_get_frame(&decoder.codec, &next) != nullptr) {
        return failed("the AV1 data hold more than one frame");
    }
    if (!decoder.size) {
        return failed("the AV1 data hold no sequence header");
    }
    if (frame->d_w != decoder.size->width || frame->d_h != decoder.size->height) {
        return failed("the AV1 frame is not of the size its sequence header states");
    }
    return converted(*frame, decoder.strict, out);
}

const heif_decoder_plugin kPlugin{3,           name, nullptr, nullptr,   supports,    newDecoder,
                                  freeDecoder, push, decode,  setStrict, "strict-aom"};

}  // namespace

const heif_decoder_plugin& StrictAv1Decoder() {
    return kPlugin;
}
