#include "formats/ContractSample.h"

#include "formats/FormatSamples.h"

namespace {

std::uint64_t readNumber(const QByteArray& b, qsizetype at, int width, bool bigEndian) {
    std::uint64_t v = 0;
    for (int k = 0; k < width; ++k) {
        const auto byte = static_cast<std::uint8_t>(b[at + (bigEndian ? k : width - 1 - k)]);
        v = v << 8 | byte;
    }
    return v;
}

void writeNumber(QByteArray& b, qsizetype at, int width, bool bigEndian, std::uint64_t v) {
    for (int k = 0; k < width; ++k) {
        b[at + (bigEndian ? width - 1 - k : k)] = static_cast<char>(v >> (8 * k) & 0xFF);
    }
}

}  // namespace

FieldEdit IntegerField(std::string what, qsizetype at, int width, bool bigEndian, FieldKind kind) {
    return {std::move(what),
            [=](const QByteArray& whole, int direction) -> std::optional<QByteArray> {
                if (at < 0 || at + width > whole.size()) {
                    return std::nullopt;
                }
                const std::uint64_t v = readNumber(whole, at, width, bigEndian);
                const std::uint64_t most =
                    width >= 8 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * width)) - 1;
                std::uint64_t changed = 0;
                if (kind == FieldKind::Count) {
                    if ((direction < 0 && v == 0) || (direction > 0 && v == most)) {
                        return std::nullopt;
                    }
                    changed = direction > 0 ? v + 1 : v - 1;
                } else {
                    if (v == 0 || (direction > 0 && v > most / 2)) {
                        return std::nullopt;
                    }
                    changed = direction > 0 ? 2 * v : v / 2;
                }
                QByteArray edited = whole;
                writeNumber(edited, at, width, bigEndian, changed);
                return edited;
            }};
}

const std::vector<FormatSamples>& AllFormatSamples() {
    const auto none = [] { return std::vector<CostlySample>{}; };
    static const std::vector<FormatSamples> all{
        {{PictureType::Jpeg}, JpegSamples, JpegCostlySamples},
        {{PictureType::Png}, PngSamples, PngCostlySamples},
        {{PictureType::Bmp}, BmpSamples, BmpCostlySamples},
        {{PictureType::Gif}, GifSamples, GifCostlySamples},
        {{PictureType::Ico}, IcoSamples, IcoCostlySamples},
        {{PictureType::Tiff}, TiffSamples, TiffCostlySamples},
        {{PictureType::Webp}, WebpSamples, WebpCostlySamples},
        {{PictureType::Xbm}, XbmSamples, XbmCostlySamples},
        {{PictureType::Netpbm}, NetpbmSamples, NetpbmCostlySamples},
        {{PictureType::Metafile}, MetafileSamples, none, true},
        {{PictureType::Mng}, MngSamples, none, true},
        {{PictureType::Heif}, HeifSamples, HeifCostlySamples},
        {{PictureType::Jxl}, JxlSamples, JxlCostlySamples},
        {{PictureType::Raw}, RawSamples, RawCostlySamples},
    };
    return all;
}
