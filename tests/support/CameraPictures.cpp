#include "support/CameraPictures.h"

#include "support/RunTool.h"
#include "support/TestPictures.h"

#include <jxl/decode_cxx.h>
#include <jxl/encode_cxx.h>
#include <libheif/heif.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::uint32_t scaled(std::uint32_t v, int bits) {
    const std::uint32_t most = (1u << bits) - 1;
    return (v * most + 127) / 255;
}

void check(heif_error e, const char* what) {
    if (e.code != heif_error_Ok) {
        throw std::runtime_error(std::string(what) + ": " + e.message);
    }
}

// The file the context holds, and the context freed.
QByteArray written(heif_context* context) {
    QByteArray bytes;
    heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* out) {
                           static_cast<QByteArray*>(out)->append(static_cast<const char*>(data),
                                                                 static_cast<qsizetype>(size));
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
                       }};
    check(heif_context_write(context, &writer, &bytes), "write");
    heif_context_free(context);
    return bytes;
}

}  // namespace

QByteArray HeifBytesOf(const BgrxImage& picture, bool avif, int bits, int orientation, int quality,
                       const QByteArray& exif, HeifColour colour) {
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    check(heif_context_get_encoder_for_format(
              context, avif ? heif_compression_AV1 : heif_compression_HEVC, &encoder),
          "no encoder");
    heif_encoder_set_lossy_quality(encoder, quality);
    if (colour.chroma != nullptr) {
        check(heif_encoder_set_parameter(encoder, "chroma", colour.chroma), "chroma");
    }
    heif_image* image = nullptr;
    const int w = picture.width();
    const int h = picture.height();
    check(heif_image_create(
              w, h, heif_colorspace_RGB,
              bits > 8 ? heif_chroma_interleaved_RRGGBB_LE : heif_chroma_interleaved_RGB, &image),
          "image");
    check(heif_image_add_plane(image, heif_channel_interleaved, w, h, bits), "plane");
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const quint32 c = ColourAt(picture, x, y);
            const std::uint32_t rgb[3] = {c >> 16 & 0xFF, c >> 8 & 0xFF, c & 0xFF};
            for (int k = 0; k < 3; ++k) {
                if (bits > 8) {
                    qToLittleEndian<quint16>(static_cast<quint16>(scaled(rgb[k], bits)),
                                             plane + y * stride + 6 * x + 2 * k);
                } else {
                    plane[y * stride + 3 * x + k] = static_cast<std::uint8_t>(rgb[k]);
                }
            }
        }
    }
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = static_cast<heif_orientation>(orientation);
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    nclx->matrix_coefficients = static_cast<heif_matrix_coefficients>(colour.matrix);
    nclx->full_range_flag = colour.fullRange ? 1 : 0;
    options->output_nclx_profile = nclx;
    check(heif_image_set_nclx_color_profile(image, nclx), "colour profile");
    heif_image_handle* handle = nullptr;
    check(heif_context_encode_image(context, image, encoder, options, &handle), "encode");
    if (!exif.isEmpty()) {
        check(heif_context_add_exif_metadata(context, handle, exif.constData(),
                                             static_cast<int>(exif.size())),
              "Exif");
    }
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_nclx_color_profile_free(nclx);
    heif_image_release(image);
    heif_encoder_release(encoder);
    return written(context);
}

QByteArray HeifWithAlphaBytes(int width, int height, quint32 rgb, quint8 alpha,
                              bool premultiplied) {
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    check(heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder), "encoder");
    heif_encoder_set_lossless(encoder, 1);
    check(heif_encoder_set_parameter(encoder, "chroma", "444"), "chroma");
    heif_image* image = nullptr;
    check(
        heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, &image),
        "image");
    check(heif_image_add_plane(image, heif_channel_interleaved, width, height, 8), "plane");
    heif_image_set_premultiplied_alpha(image, premultiplied ? 1 : 0);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = plane + y * stride + 4 * x;
            p[0] = static_cast<std::uint8_t>(rgb >> 16);
            p[1] = static_cast<std::uint8_t>(rgb >> 8);
            p[2] = static_cast<std::uint8_t>(rgb);
            p[3] = alpha;
        }
    }
    check(heif_context_encode_image(context, image, encoder, nullptr, nullptr), "encode");
    heif_image_release(image);
    heif_encoder_release(encoder);
    return written(context);
}

QByteArray HeifWithAlphaBytesOf(const BgrxImage& picture,
                                const std::function<quint8(int, int)>& alpha, bool avif,
                                int quality) {
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    check(heif_context_get_encoder_for_format(
              context, avif ? heif_compression_AV1 : heif_compression_HEVC, &encoder),
          "encoder");
    heif_encoder_set_lossy_quality(encoder, quality);
    const int w = picture.width();
    const int h = picture.height();
    heif_image* image = nullptr;
    check(heif_image_create(w, h, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, &image),
          "image");
    check(heif_image_add_plane(image, heif_channel_interleaved, w, h, 8), "plane");
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const quint32 c = ColourAt(picture, x, y);
            std::uint8_t* p = plane + y * stride + 4 * x;
            p[0] = static_cast<std::uint8_t>(c >> 16);
            p[1] = static_cast<std::uint8_t>(c >> 8);
            p[2] = static_cast<std::uint8_t>(c);
            p[3] = alpha(x, y);
        }
    }
    check(heif_context_encode_image(context, image, encoder, nullptr, nullptr), "encode");
    heif_image_release(image);
    heif_encoder_release(encoder);
    return written(context);
}

BgrxImage LibheifColour(const QByteArray& heif) {
    heif_context* context = heif_context_alloc();
    check(heif_context_read_from_memory_without_copy(
              context, heif.constData(), static_cast<std::size_t>(heif.size()), nullptr),
          "read");
    heif_image_handle* handle = nullptr;
    check(heif_context_get_primary_image_handle(context, &handle), "primary");
    heif_image* image = nullptr;
    check(heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                            nullptr),
          "decode");
    int stride = 0;
    const std::uint8_t* rgb =
        heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    const int w = heif_image_get_primary_width(image);
    const int h = heif_image_get_primary_height(image);
    BgrxImage picture = MakePicture(w, h, [&](int x, int y) {
        const std::uint8_t* p = rgb + y * stride + 3 * x;
        return quint32(p[0]) << 16 | quint32(p[1]) << 8 | p[2];
    });
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(context);
    return picture;
}

QByteArray AvifencBytesOf(const BgrxImage& picture, int bits, int orientation,
                          const QStringList& options) {
    QImage deep(picture.width(), picture.height(), QImage::Format_RGBX64);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const quint32 c = ColourAt(picture, x, y);
            deep.setPixelColor(x, y, QColor::fromRgb(c >> 16 & 0xFF, c >> 8 & 0xFF, c & 0xFF));
        }
    }
    QTemporaryDir dir;
    if (!deep.save(dir.filePath("in.png"))) {
        throw std::runtime_error("cannot write the PNG for avifenc");
    }
    // Turns anticlockwise, in quarters, for the Exif numbers that only turn.
    const int quarters = orientation == 3 ? 2 : orientation == 6 ? 3 : orientation == 8 ? 1 : 0;
    QStringList arguments{"-d", QString::number(bits), "--min", "0", "--max", "16"};
    if (quarters != 0) {
        arguments << "--irot" << QString::number(quarters);
    }
    arguments << options << dir.filePath("in.png") << dir.filePath("out.avif");
    const ToolRun avifenc = RunTool("avifenc", arguments);
    if (!avifenc.succeeded()) {
        throw std::runtime_error("avifenc failed (is libavif-bin installed?): " +
                                 avifenc.err.toStdString());
    }
    QFile out(dir.filePath("out.avif"));
    out.open(QIODevice::ReadOnly);
    return out.readAll();
}

namespace {

// The frame's samples, interleaved RGB of `bits`, in the machine's order.
std::vector<std::uint8_t> jxlSamples(const BgrxImage& picture, int bits) {
    std::vector<std::uint8_t> samples;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const quint32 c = ColourAt(picture, x, y);
            for (const std::uint32_t v : {c >> 16 & 0xFF, c >> 8 & 0xFF, c & 0xFF}) {
                if (bits > 8) {
                    const auto word = static_cast<std::uint16_t>(scaled(v, bits));
                    std::uint8_t two[2];
                    std::memcpy(two, &word, 2);
                    samples.insert(samples.end(), two, two + 2);
                } else {
                    samples.push_back(static_cast<std::uint8_t>(v));
                }
            }
        }
    }
    return samples;
}

void checkJxl(JxlEncoderStatus status, const char* what) {
    if (status != JXL_ENC_SUCCESS) {
        throw std::runtime_error(std::string("JPEG XL encoding: ") + what);
    }
}

}  // namespace

QByteArray JxlFramesBytes(int width, int height, const std::vector<JxlFrame>& frames,
                          const JxlLayout& layout) {
    const JxlEncoderPtr encoder = JxlEncoderMake(nullptr);
    JxlEncoder* e = encoder.get();
    if (layout.container) {
        checkJxl(JxlEncoderUseContainer(e, JXL_TRUE), "container");
    }
    if (!layout.exif.isEmpty()) {
        checkJxl(JxlEncoderUseBoxes(e), "boxes");
        // The box begins with the offset of the TIFF header within it.
        const QByteArray box = QByteArray(4, '\0') + layout.exif;
        checkJxl(JxlEncoderAddBox(e, "Exif", reinterpret_cast<const std::uint8_t*>(box.data()),
                                  static_cast<std::size_t>(box.size()), JXL_FALSE),
                 "Exif box");
        JxlEncoderCloseBoxes(e);
    }
    const bool animated = frames.size() > 1;
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = static_cast<std::uint32_t>(width);
    info.ysize = static_cast<std::uint32_t>(height);
    info.bits_per_sample = static_cast<std::uint32_t>(layout.bits);
    info.orientation = static_cast<JxlOrientation>(layout.orientation);
    info.uses_original_profile = layout.lossless ? JXL_TRUE : JXL_FALSE;
    info.num_extra_channels = static_cast<std::uint32_t>(layout.extraChannels);
    if (animated) {
        info.have_animation = JXL_TRUE;
        info.animation.tps_numerator = 100;
        info.animation.tps_denominator = 1;
    }
    checkJxl(JxlEncoderSetBasicInfo(e, &info), "basic info");
    for (int k = 0; k < layout.extraChannels; ++k) {
        JxlExtraChannelInfo extra;
        JxlEncoderInitExtraChannelInfo(JXL_CHANNEL_OPTIONAL, &extra);
        extra.bits_per_sample = static_cast<std::uint32_t>(layout.bits);
        checkJxl(JxlEncoderSetExtraChannelInfo(e, static_cast<std::size_t>(k), &extra),
                 "extra channel");
    }
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
    checkJxl(JxlEncoderSetColorEncoding(e, &colour), "colour");
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(e, nullptr);
    if (layout.lossless) {
        checkJxl(JxlEncoderSetFrameLossless(settings, JXL_TRUE), "lossless");
    } else {
        checkJxl(JxlEncoderSetFrameDistance(settings, 1.0f), "distance");
    }
    checkJxl(
        JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, layout.effort),
        "effort");
    if (layout.modular) {
        checkJxl(JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_MODULAR, 1),
                 "modular");
    }
    if (layout.noise) {
        checkJxl(JxlEncoderFrameSettingsSetFloatOption(settings, JXL_ENC_FRAME_SETTING_PHOTON_NOISE,
                                                       3200),
                 "noise");
    }
    if (layout.dcFrame) {
        checkJxl(
            JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_PROGRESSIVE_DC, 1),
            "DC frame");
    }
    for (const auto& [id, value] : layout.options) {
        checkJxl(JxlEncoderFrameSettingsSetOption(settings,
                                                  static_cast<JxlEncoderFrameSettingId>(id), value),
                 "frame setting");
    }
    const JxlPixelFormat format{3, layout.bits > 8 ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8,
                                JXL_NATIVE_ENDIAN, 0};
    for (const JxlFrame& frame : frames) {
        if (animated) {
            JxlFrameHeader header;
            JxlEncoderInitFrameHeader(&header);
            header.duration = frame.duration;
            header.layer_info.save_as_reference = static_cast<std::uint32_t>(frame.keptIn);
            header.layer_info.blend_info.source = static_cast<std::uint32_t>(frame.putOn);
            const BgrxImage& p = frame.picture;
            if (frame.x != 0 || frame.y != 0 || p.width() != width || p.height() != height) {
                header.layer_info.have_crop = JXL_TRUE;
                header.layer_info.crop_x0 = frame.x;
                header.layer_info.crop_y0 = frame.y;
                header.layer_info.xsize = static_cast<std::uint32_t>(p.width());
                header.layer_info.ysize = static_cast<std::uint32_t>(p.height());
            }
            checkJxl(JxlEncoderSetFrameHeader(settings, &header), "frame header");
        }
        const std::vector<std::uint8_t> samples = jxlSamples(frame.picture, layout.bits);
        checkJxl(JxlEncoderAddImageFrame(settings, &format, samples.data(), samples.size()),
                 "frame");
        const std::vector<std::uint8_t> flat(std::size_t(frame.picture.width()) *
                                                 std::size_t(frame.picture.height()) *
                                                 (layout.bits > 8 ? 2 : 1),
                                             0);
        const JxlPixelFormat one{1, format.data_type, JXL_NATIVE_ENDIAN, 0};
        for (int k = 0; k < layout.extraChannels; ++k) {
            checkJxl(JxlEncoderSetExtraChannelBuffer(settings, &one, flat.data(), flat.size(),
                                                     static_cast<std::uint32_t>(k)),
                     "extra channel samples");
        }
    }
    JxlEncoderCloseInput(e);
    QByteArray bytes(64, '\0');
    std::size_t used = 0;
    for (;;) {
        auto* next = reinterpret_cast<std::uint8_t*>(bytes.data()) + used;
        std::size_t left = static_cast<std::size_t>(bytes.size()) - used;
        const JxlEncoderStatus status = JxlEncoderProcessOutput(e, &next, &left);
        used = static_cast<std::size_t>(next - reinterpret_cast<std::uint8_t*>(bytes.data()));
        if (status == JXL_ENC_SUCCESS) {
            break;
        }
        if (status != JXL_ENC_NEED_MORE_OUTPUT) {
            throw std::runtime_error("JPEG XL encoding");
        }
        bytes.resize(bytes.size() * 2);
    }
    bytes.resize(static_cast<qsizetype>(used));
    return bytes;
}

QByteArray JxlBytesOf(const BgrxImage& picture, bool lossless, int bits, int orientation,
                      const QByteArray& exif) {
    JxlLayout layout;
    layout.lossless = lossless;
    layout.bits = bits;
    layout.orientation = orientation;
    layout.exif = exif;
    std::vector<JxlFrame> frames;
    frames.push_back({MakePicture(picture.width(), picture.height(),
                                  [&](int x, int y) { return ColourAt(picture, x, y); })});
    return JxlFramesBytes(picture.width(), picture.height(), frames, layout);
}

QByteArray JxlHideFrames(QByteArray bytes, int count) {
    // Where each frame begins: after the headers, and after each frame decoded.
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    JxlDecoder* d = decoder.get();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    JxlDecoderSubscribeEvents(d, JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE);
    JxlDecoderSetCoalescing(d, JXL_FALSE);
    JxlDecoderSetInput(d, data, std::size_t(bytes.size()));
    std::vector<qsizetype> starts;
    std::vector<std::uint8_t> pixels;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(d);
        const qsizetype at = bytes.size() - qsizetype(JxlDecoderReleaseInput(d));
        JxlDecoderSetInput(d, data + at, std::size_t(bytes.size() - at));
        if (status == JXL_DEC_COLOR_ENCODING || status == JXL_DEC_FULL_IMAGE) {
            starts.push_back(at);
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
            std::size_t size = 0;
            JxlDecoderImageOutBufferSize(d, &format, &size);
            pixels.resize(size);
            JxlDecoderSetImageOutBuffer(d, &format, pixels.data(), size);
        } else {
            break;
        }
    }
    if (starts.size() <= std::size_t(count)) {
        throw std::runtime_error("fewer frames than to be hidden");
    }
    for (int k = 0; k < count; ++k) {
        // Not all default, of the regular type: the type's two bits set.
        if ((bytes[starts[k]] & 7) != 0) {
            throw std::runtime_error("a frame header of another kind");
        }
        bytes[starts[k]] = char(bytes[starts[k]] | 0x06);
    }
    return bytes;
}
