// The qt module: Qt's image readers, for the kinds they decode (QtReader.h), and its PNG writer,
// with Qt's GUI library under them.
#include "engine/formats/LibraryMessages.h"
#include "engine/formats/LoadFailure.h"
#include "engine/formats/ModuleEntries.h"
#include "engine/formats/ProgramModule.h"
#include "filter/BlackWhiteFilter.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <cstring>
#include <mutex>
#include <string_view>

namespace {

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

// A reader's device over bytes that outlive it, read in place.
struct BytesDevice {
    QByteArray data;
    QBuffer buffer{&data};

    explicit BytesDevice(std::span<const std::uint8_t> bytes)
        : data(QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                       static_cast<qsizetype>(bytes.size()))) {
        buffer.open(QIODevice::ReadOnly);
    }
};

BgrxImage decode(std::span<const std::uint8_t> bytes, const PictureProbe& probe,
                 const QString& path, const QByteArray& readerName) {
    setQtAllocationLimit();
    // The readers' own warnings (an odd colour profile, say) are not the user's concern unless
    // the picture fails to load.
    const LibraryMessages said;
    BytesDevice device(bytes);
    QImageReader reader(&device.buffer, readerName);
    reader.setAutoTransform(true);
    reader.setDecideFormatFromContent(readerName.isEmpty());
    if (!reader.canRead() || reader.format() == "jpeg") {
        throw NotAPicture(path);
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

bool reads(std::span<const std::uint8_t> head) {
    setQtAllocationLimit();
    const LibraryMessages quiet;
    BytesDevice device(head);
    const QByteArray format = QImageReader::imageFormat(&device.buffer);
    return !format.isEmpty() && format != "jpeg" && format != "jpg";
}

QByteArray greyPng(const GreyImage& grey) {
    const QImage image(grey.data(), grey.width(), grey.height(),
                       static_cast<qsizetype>(grey.stride()), QImage::Format_Grayscale8);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG") ? png : QByteArray();
}

const QtModuleEntries entries{&decode, &reads, &greyPng};

}  // namespace

TONVALER_MODULE_ENTRIES("qt", entries)
