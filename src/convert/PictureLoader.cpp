#include "convert/PictureLoader.h"

#include "convert/BlackWhiteFilter.h"
#include "convert/JpegDecoder.h"
#include "convert/Orientation.h"
#include "convert/PictureFile.h"
#include "shell/RuntimeError.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QLoggingCategory>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

namespace {

RuntimeError cannotLoad(const QString& path, int number, const std::string& cause) {
    return RuntimeError(number, "Cannot load " + path.toStdString() + ": " + cause);
}

}  // namespace

void CheckPictureSize(const QString& path, long long width, long long height) {
    if (width <= 0 || height <= 0) {
        throw cannotLoad(path, kInvalidPictureError, "the picture has no pixels");
    }
    if (width > kFilterMaxWidth || height > kFilterMaxHeight) {
        throw cannotLoad(path, ErrorNumber::OutOfMemory,
                         "the picture is " + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels; at most " +
                             std::to_string(kFilterMaxWidth) + " x " +
                             std::to_string(kFilterMaxHeight) + " can be converted");
    }
}

namespace {

// The size that a PNG, GIF or BMP header states, read without Qt, which for some damaged files
// cannot tell it before decoding; {0, 0} for other files.
std::pair<long long, long long> statedSize(const std::vector<std::uint8_t>& b) {
    const auto be32 = [&](std::size_t at) {
        return (long long)b[at] << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
    };
    const auto le16 = [&](std::size_t at) { return (long long)(b[at] | b[at + 1] << 8); };
    const auto le32 = [&](std::size_t at) {
        return static_cast<long long>(static_cast<std::int32_t>(
            b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24));
    };
    static const std::uint8_t png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (b.size() >= 24 && std::memcmp(b.data(), png, 8) == 0 &&
        std::memcmp(b.data() + 12, "IHDR", 4) == 0) {
        return {be32(16), be32(20)};
    }
    if (b.size() >= 10 && std::memcmp(b.data(), "GIF8", 4) == 0) {
        return {le16(6), le16(8)};
    }
    if (b.size() >= 26 && b[0] == 'B' && b[1] == 'M') {
        const long long header = le32(14);
        if (header == 12) {
            return {le16(18), le16(20)};
        }
        if (header >= 40) {
            return {std::llabs(le32(18)), std::llabs(le32(22))};  // negative: stored top down
        }
    }
    return {0, 0};
}

bool isMetafile(const std::vector<std::uint8_t>& b) {
    static const std::uint8_t placeable[] = {0xD7, 0xCD, 0xC6, 0x9A};
    if (b.size() >= 4 && std::memcmp(b.data(), placeable, 4) == 0) {
        return true;
    }
    // A plain metafile header: type 1 or 2, header size 9 words, version 0x0100 or 0x0300.
    if (b.size() >= 6 && (b[0] == 1 || b[0] == 2) && b[1] == 0 && b[2] == 9 && b[3] == 0 &&
        b[4] == 0 && (b[5] == 1 || b[5] == 3)) {
        return true;
    }
    return b.size() >= 44 && b[0] == 1 && b[1] == 0 && b[2] == 0 && b[3] == 0 &&
           std::memcmp(b.data() + 40, " EMF", 4) == 0;
}

BgrxImage loadJpeg(const QString& path, const std::vector<std::uint8_t>& bytes) {
    const int orientation = JpegExifOrientation(bytes.data(), bytes.size());
    BgrxImage picture = DecodeJpeg(bytes.data(), bytes.size(), path, [&](JpegDecoder& decoder) {
        if (SwapsSides(orientation)) {
            CheckPictureSize(path, decoder.height(), decoder.width());
        } else {
            CheckPictureSize(path, decoder.width(), decoder.height());
        }
        BgrxImage whole(decoder.width(), decoder.height());
        std::vector<std::uint8_t*> rows(whole.height());
        for (int y = 0; y < whole.height(); ++y) {
            rows[y] = whole.row(y);
        }
        while (decoder.rowsRead() < whole.height()) {
            decoder.readRows(rows.data() + decoder.rowsRead(), whole.height() - decoder.rowsRead());
        }
        return whole;
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
        // The readers' own warnings (an odd colour profile, say) are not the user's concern:
        // what matters reaches the user as a failure, or the picture loads.
        QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio.warning=false"));
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

BgrxImage loadWithQt(const QString& path, const std::vector<std::uint8_t>& bytes) {
    setQtAllocationLimit();
    if (const auto [w, h] = statedSize(bytes); w > 0 && h > 0) {
        // Before any decoding; quarter turns from Exif data are rare outside JPEG and TIFF.
        if ((w > kFilterMaxWidth || h > kFilterMaxHeight) &&
            (h > kFilterMaxWidth || w > kFilterMaxHeight)) {
            CheckPictureSize(path, w, h);
        }
    }
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead()) {
        throw cannotLoad(path, kInvalidPictureError,
                         "the file is not a picture, or not in a format that can be read "
                         "(JPEG, PNG, BMP, GIF, ICO, TIFF, WebP)");
    }
    pickLargest(reader);
    const QSize stored = reader.size();
    if (stored.isValid()) {
        const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
        CheckPictureSize(path, turned ? stored.height() : stored.width(),
                         turned ? stored.width() : stored.height());
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        throw cannotLoad(
            path, kInvalidPictureError,
            "the picture is truncated or corrupt (" + reader.errorString().toStdString() + ")");
    }
    CheckPictureSize(path, image.width(), image.height());
    return toBgrx(std::move(image));
}

}  // namespace

bool IsJpeg(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

BgrxImage LoadPicture(const QString& path) {
    return DecodePicture(ReadPictureFile(path), path);
}

BgrxImage DecodePicture(const std::vector<std::uint8_t>& bytes, const QString& path) {
    if (bytes.empty()) {
        throw cannotLoad(path, kInvalidPictureError, "the file is empty");
    }
    if (IsJpeg(bytes)) {
        return loadJpeg(path, bytes);
    }
    if (isMetafile(bytes)) {
        throw cannotLoad(path, kInvalidPictureError,
                         "Windows metafile pictures (WMF, EMF) are not supported");
    }
    return loadWithQt(path, bytes);
}
