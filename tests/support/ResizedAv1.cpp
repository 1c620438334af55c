#include "support/ResizedAv1.h"

#include "support/IsoBoxes.h"
#include "support/TestPictures.h"

#include <aom/aom_encoder.h>
#include <aom/aomcx.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

struct FreeImage {
    void operator()(aom_image_t* i) const { aom_img_free(i); }
};

struct Encoder {
    aom_codec_ctx_t codec{};
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
    explicit Encoder(const aom_codec_enc_cfg_t& config) {
        if (aom_codec_enc_init(&codec, aom_codec_av1_cx(), &config, 0) != AOM_CODEC_OK) {
            throw std::runtime_error("libaom's encoder does not start");
        }
    }
    ~Encoder() { aom_codec_destroy(&codec); }

    void encode(const aom_image_t* image, QByteArray& out) {
        if (aom_codec_encode(&codec, image, 0, 1, image ? AOM_EFLAG_FORCE_KF : 0) != AOM_CODEC_OK) {
            throw std::runtime_error(std::string("libaom cannot encode: ") +
                                     aom_codec_error(&codec));
        }
        aom_codec_iter_t at = nullptr;
        while (const aom_codec_cx_pkt_t* packet = aom_codec_get_cx_data(&codec, &at)) {
            if (packet->kind == AOM_CODEC_CX_FRAME_PKT) {
                out.append(static_cast<const char*>(packet->data.frame.buf),
                           qsizetype(packet->data.frame.sz));
            }
        }
    }
};

}  // namespace

ResizedAv1 ResizedAv1Of(const BgrxImage& picture, int denominator) {
    aom_codec_enc_cfg_t config{};
    if (aom_codec_enc_config_default(aom_codec_av1_cx(), &config, AOM_USAGE_GOOD_QUALITY) !=
        AOM_CODEC_OK) {
        throw std::runtime_error("libaom has no default configuration");
    }
    config.g_w = unsigned(picture.width());
    config.g_h = unsigned(picture.height());
    config.g_threads = 1;
    config.g_lag_in_frames = 0;
    // A still picture's reduced header leaves no room to code a frame of another size.
    config.g_limit = 0;
    config.rc_resize_mode = 1;  // fixed
    config.rc_resize_denominator = unsigned(denominator);
    config.rc_resize_kf_denominator = unsigned(denominator);
    Encoder encoder(config);
    aom_codec_control(&encoder.codec, AOME_SET_CPUUSED, 6);

    const std::unique_ptr<aom_image_t, FreeImage> image(
        aom_img_alloc(nullptr, AOM_IMG_FMT_I420, config.g_w, config.g_h, 16));
    if (!image) {
        throw std::runtime_error("libaom cannot allocate the picture");
    }
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const quint32 c = ColourAt(picture, x, y);
            image->planes[0][y * image->stride[0] + x] =
                static_cast<unsigned char>(((c >> 16 & 0xFF) + (c >> 8 & 0xFF) + (c & 0xFF)) / 3);
        }
    }
    for (int c = 1; c < 3; ++c) {
        for (int y = 0; y < (picture.height() + 1) / 2; ++y) {
            std::fill_n(image->planes[c] + y * image->stride[c], (picture.width() + 1) / 2, 128);
        }
    }
    QByteArray stream;
    encoder.encode(image.get(), stream);
    encoder.encode(nullptr, stream);

    // Its units without the temporal delimiters, which a picture item leaves out.
    ResizedAv1 out;
    QByteArray sequenceHeader;
    for (qsizetype at = 0; at < stream.size();) {
        const auto header = std::uint8_t(stream[at]);
        qsizetype size = 0;
        qsizetype p = at + 1 + (header >> 2 & 1);
        if ((header & 0x02) == 0) {
            throw std::runtime_error("libaom wrote a unit without its size");
        }
        for (int shift = 0;; shift += 7) {
            const auto byte = std::uint8_t(stream.at(p++));
            size |= qsizetype(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) {
                break;
            }
        }
        const QByteArray unit = stream.mid(at, p + size - at);
        const int type = header >> 3 & 15;
        if (type == 1) {
            sequenceHeader = unit;
        }
        if (type != 2) {
            out.units += unit;
        }
        at = p + size;
    }
    if (sequenceHeader.isEmpty()) {
        throw std::runtime_error("libaom wrote no sequence header");
    }
    // Profile 0, level 0; 8 bits, 4:2:0 (both chroma axes halved).
    out.av1C = IsoBoxBytes("av1C", QByteArray::fromHex("81000c00") + sequenceHeader);
    return out;
}
