#include "engine/PictureLoader.h"

#include "base/RuntimeError.h"
#include "engine/HeifDecoder.h"
#include "engine/JpegDecoder.h"
#include "engine/JxlDecoder.h"
#include "engine/LibraryMessages.h"
#include "engine/Orientation.h"
#include "engine/PngDecoder.h"
#include "engine/RawDecoder.h"
#include "filter/BlackWhiteFilter.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

void CheckPictureSize(const QString& path, long long width, long long height) {
    if (width <= 0 || height <= 0) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture, "the picture has no pixels");
    }
    if (width > kFilterMaxWidth || height > kFilterMaxHeight) {
        throw CannotLoad(path, ErrorNumber::OutOfMemory,
                         "the picture is " + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels; at most " +
                             std::to_string(kFilterMaxWidth) + " x " +
                             std::to_string(kFilterMaxHeight) + " can be converted");
    }
}

namespace {

BgrxImage allRows(JpegDecoder& decoder) {
    BgrxImage picture(decoder.width(), decoder.height());
    std::vector<std::uint8_t*> rows(picture.height());
    for (int y = 0; y < picture.height(); ++y) {
        rows[y] = picture.row(y);
    }
    while (decoder.rowsRead() < picture.height()) {
        decoder.readRows(rows.data() + decoder.rowsRead(), picture.height() - decoder.rowsRead());
    }
    return picture;
}

BgrxImage loadJpeg(const QString& path, const PictureContent& content) {
    const int orientation = content.probe.orientation;
    const PictureBytes& bytes = content.bytes;
    BgrxImage picture = DecodeJpeg(bytes.data(), bytes.size(), path, [&](JpegDecoder& decoder) {
        if (SwapsSides(orientation)) {
            CheckPictureSize(path, decoder.height(), decoder.width());
        } else {
            CheckPictureSize(path, decoder.width(), decoder.height());
        }
        return allRows(decoder);
    });
    return Orient(std::move(picture), orientation);
}

// Qt's readers refuse pictures over their allocation limit; set it for the largest picture the
// filter takes at 8 bytes a pixel (16-bit colour with alpha), about 540 MB.
void setQtAllocationLimit() {
    static std::once_flag once;
    std::call_once(once, [] {
        const qint64 bytes = qint64(kFilterMaxWidth) * kFilterMaxHeight * 8;
        QImageReader::setAllocationLimit(static_cast<int>(bytes >> 20) + 1);
    });
}

// ICO files hold several pictures: take the largest.
void pickLargest(QImageReader& reader) {
    if (reader.format() != "ico" || reader.imageCount() <= 1) {
        return;
    }
    int best = 0;
    qint64 bestArea = -1;
    for (int i = 0; i < reader.imageCount(); ++i) {
        if (reader.jumpToImage(i)) {
            const QSize s = reader.size();
            if (qint64(s.width()) * s.height() > bestArea) {
                bestArea = qint64(s.width()) * s.height();
                best = i;
            }
        }
    }
    reader.jumpToImage(best);
}

BgrxImage toBgrx(QImage image) {
    if (image.hasAlphaChannel()) {
        // Over white: with premultiplied colours, the result is the colour plus the part of
        // white that shows through.
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        BgrxImage out(image.width(), image.height());
        for (int y = 0; y < image.height(); ++y) {
            const std::uint8_t* s = image.constScanLine(y);
            std::uint8_t* d = out.row(y);
            for (int x = 0; x < 4 * image.width(); x += 4) {
                const int clear = 255 - s[x + 3];
                d[x] = static_cast<std::uint8_t>(s[x] + clear);
                d[x + 1] = static_cast<std::uint8_t>(s[x + 1] + clear);
                d[x + 2] = static_cast<std::uint8_t>(s[x + 2] + clear);
                d[x + 3] = 0;
            }
        }
        return out;
    }
    image = image.convertToFormat(QImage::Format_RGB32);  // blue, green, red, 255 in memory
    BgrxImage out(image.width(), image.height());
    for (int y = 0; y < image.height(); ++y) {
        std::memcpy(out.row(y), image.constScanLine(y),
                    static_cast<std::size_t>(4) * image.width());
    }
    return out;
}

QByteArray formatOf(PictureType type) {
    switch (type) {
        case PictureType::Bmp:
            return "bmp";
        case PictureType::Gif:
            return "gif";
        case PictureType::Ico:
            return "ico";
        case PictureType::Tiff:
            return "tiff";
        case PictureType::Webp:
            return "webp";
        case PictureType::Xbm:
            return "xbm";
        default:
            return {};
    }
}

RuntimeError notAPicture(const QString& path) {
    return CannotLoad(path, ErrorNumber::InvalidPicture,
                      "the file is not a picture, or not in a format that can be read "
                      "(JPEG, PNG, BMP, GIF, ICO, TIFF, WebP, HEIC, AVIF, JPEG XL, camera raw)");
}

// Whether one of Qt's readers other than its JPEG reader takes content that begins so; every
// JPEG goes through our decoder and its checks.
bool qtReads(std::span<const std::uint8_t> head) {
    setQtAllocationLimit();
    const LibraryMessages quiet;
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(head.data()),
                                              static_cast<qsizetype>(head.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray format = QImageReader::imageFormat(&buffer);
    return !format.isEmpty() && format != "jpeg" && format != "jpg";
}

BgrxImage loadWithQt(const QString& path, const PictureContent& content) {
    setQtAllocationLimit();
    // The readers' own warnings (an odd colour profile, say) are not the user's concern unless
    // the picture fails to load.
    const LibraryMessages said;
    const PictureProbe& probe = content.probe;
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(content.bytes.data()),
                                              static_cast<qsizetype>(content.bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, formatOf(probe.type));
    reader.setAutoTransform(true);
    reader.setDecideFormatFromContent(formatOf(probe.type).isEmpty());
    if (!reader.canRead() || reader.format() == "jpeg") {
        throw notAPicture(path);
    }
    pickLargest(reader);
    const QSize stored = reader.size();
    if (stored.isValid()) {
        const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
        CheckPictureSize(path, turned ? stored.height() : stored.width(),
                         turned ? stored.width() : stored.height());
    }
    // Cleared first: where a damaged file leaves pixels unwritten (RLE bitmaps may skip any), the
    // reader fills the picture it is given, and those pixels are black instead of whatever the
    // memory held.
    QImage image;
    if (stored.isValid() && reader.imageFormat() != QImage::Format_Invalid) {
        image = QImage(stored, reader.imageFormat());
        image.fill(0);
    }
    if (!reader.read(&image) || image.isNull()) {
        const std::string why = probe.unsupported.empty()
                                    ? "the picture is truncated or corrupt ("
                                    : "the picture is not supported (" + probe.unsupported + ": ";
        const std::string details = said.text().empty() ? "" : ": " + said.text();
        throw CannotLoad(path, ErrorNumber::InvalidPicture,
                         why + reader.errorString().toStdString() + details + ")");
    }
    CheckPictureSize(path, image.width(), image.height());
    return toBgrx(std::move(image));
}

}  // namespace

PictureContent CheckPicture(PictureBytes bytes, const QString& path) {
    PictureProbe probe = ProbePicture(bytes.span());
    return CheckPicture(std::move(bytes), std::move(probe), path);
}

PictureContent CheckPicture(PictureBytes bytes, PictureProbe probeOfBytes, const QString& path) {
    PictureContent content{std::move(bytes), std::move(probeOfBytes)};
    const PictureProbe& probe = content.probe;
    if (probe.type == PictureType::Metafile) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture,
                         "Windows metafile pictures (WMF, EMF) are not supported");
    }
    if (!probe.truncation.empty()) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture, probe.truncation);
    }
    if (!probe.refused.empty()) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture,
                         "the picture is not supported (" + probe.refused + ")");
    }
    if (probe.type == PictureType::Jpeg && !probe.unsupported.empty()) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture,
                         "the picture is not supported (" + probe.unsupported + ")");
    }
    if (probe.width > 0 && probe.height > 0) {
        if (probe.type == PictureType::Jpeg || probe.type == PictureType::Tiff ||
            probe.type == PictureType::Jxl || probe.type == PictureType::Heif ||
            probe.type == PictureType::Raw) {
            CheckPictureSize(path, probe.uprightWidth(), probe.uprightHeight());
        } else if ((probe.width > kFilterMaxWidth || probe.height > kFilterMaxHeight) &&
                   (probe.height > kFilterMaxWidth || probe.width > kFilterMaxHeight)) {
            // Quarter turns from Exif data are rare outside JPEG and TIFF.
            CheckPictureSize(path, probe.width, probe.height);
        }
    }
    return content;
}

PictureContent ReadPicture(const QString& path) {
    PictureFile file(path);
    if (PictureTypeOf(file.head()) == PictureType::Unknown && !qtReads(file.head())) {
        throw notAPicture(path);
    }
    return CheckPicture(file.readAll(), path);
}

OpenedPicture OpenPicture(const QString& path) {
    PictureFile file(path);
    if (PictureTypeOf(file.head()) == PictureType::Unknown && !qtReads(file.head())) {
        throw notAPicture(path);
    }
    PictureProbe probe = ProbePicture(file.head());
    return {std::move(file), std::move(probe)};
}

PictureContent ReadPicture(OpenedPicture opened, const QString& path) {
    PictureBytes bytes = opened.file.readAll();
    const auto head = opened.file.head();
    if (bytes.size() == head.size() && std::equal(head.begin(), head.end(), bytes.data())) {
        return CheckPicture(std::move(bytes), std::move(opened.probe), path);
    }
    return CheckPicture(std::move(bytes), path);
}

BgrxImage LoadPicture(const QString& path) {
    return DecodePicture(ReadPicture(path), path);
}

BgrxImage DecodePicture(const PictureContent& content, const QString& path) {
    if (content.probe.type == PictureType::Jpeg) {
        return loadJpeg(path, content);
    }
    if (content.probe.type == PictureType::Png) {
        return DecodePng(content.bytes.span(), path);
    }
    if (content.probe.type == PictureType::Heif) {
        return DecodeHeif(content.bytes.span(), path);
    }
    if (content.probe.type == PictureType::Jxl) {
        return DecodeJxl(content.bytes.span(), path);
    }
    if (content.probe.type == PictureType::Raw) {
        return DecodeRaw(content.bytes.span(), path);
    }
    return loadWithQt(path, content);
}

BgrxImage QuickLook(const PictureContent& content, const QString& path, int side) {
    const PictureProbe& probe = content.probe;
    const long long longer = std::max(probe.width, probe.height);
    if (probe.type != PictureType::Jpeg || longer < 2LL * side) {
        return {};
    }
    const int denominator = longer >= 8LL * side ? 8 : longer >= 4LL * side ? 4 : 2;
    const PictureBytes& bytes = content.bytes;
    BgrxImage small = DecodeJpeg(bytes.data(), bytes.size(), path, [&](JpegDecoder& decoder) {
        decoder.lookQuickly(denominator);
        return allRows(decoder);
    });
    return Orient(std::move(small), probe.orientation);
}

BgrxImage DecodePicture(std::span<const std::uint8_t> bytes, const QString& path) {
    if (bytes.empty()) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture, "the file is empty");
    }
    return DecodePicture(CheckPicture(PictureBytes(bytes), path), path);
}
