#include "support/CaptureDataFiles.h"

#include "support/TiffWriter.h"

#include <QBuffer>
#include <QImage>

#include <zlib.h>

QByteArray PngChunk(const char* type, const QByteArray& data) {
    const QByteArray body = QByteArray(type, 4) + data;
    const auto crc = static_cast<quint32>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    const auto be = [](quint32 v) {
        const char b[] = {char(v >> 24), char(v >> 16 & 0xFF), char(v >> 8 & 0xFF), char(v & 0xFF)};
        return QByteArray(b, 4);
    };
    return be(quint32(data.size())) + body + be(crc);
}

QByteArray PngWith(const QByteArray& chunks) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(0x406080);
    picture.save(&buffer, "PNG");
    return png.left(33) + chunks + png.mid(33);  // after the signature and IHDR
}

QByteArray ColourProfileChunks(int count, int inflated) {
    const QByteArray profile = qCompress(QByteArray(inflated, '\0')).mid(4);  // without Qt's length
    return PngChunk("iCCP", QByteArray("profile\0\0", 9) + profile).repeated(count);
}

QByteArray XmpPacketOf(int properties) {
    QByteArray xmp =
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
        "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description xmlns:dc='http://purl.org/dc/elements/1.1/'";
    for (int k = 0; k < properties; ++k) {
        xmp += " dc:p" + QByteArray::number(k) + "='v'";
    }
    return xmp + "/></rdf:RDF></x:xmpmeta>";
}

QByteArray TiffWithXmp(const QByteArray& xmp) {
    TiffWriter tiff;
    const int first = tiff.directory();
    tiff.longs(first, 256, {40});
    tiff.longs(first, 257, {30});
    tiff.shorts(first, 258, {8});
    tiff.shorts(first, 259, {1});
    tiff.shorts(first, 262, {1});
    tiff.text(first, 271, "NOT");
    tiff.shorts(first, 277, {1});
    tiff.longs(first, 278, {30});
    tiff.bytes(first, 700, 1, xmp);
    tiff.text(first, 33432, "(c) NOT");  // its value after the XMP's
    tiff.blocks(first, 273, 279, {QByteArray(40 * 30, '\x80')});
    return tiff.file();
}

QByteArray TiffWithTagsAfterPixels(int tags) {
    const auto le = [](quint32 v, int bytes) {
        QByteArray b;
        for (int k = 0; k < bytes; ++k) {
            b += char(v >> (8 * k) & 0xFF);
        }
        return b;
    };
    constexpr int kWidth = 300, kHeight = 250;  // 75,000 bytes of pixels first
    const int directory = 8 + kWidth * kHeight;
    QByteArray file =
        QByteArray("II*\0", 4) + le(quint32(directory), 4) + QByteArray(kWidth * kHeight, '\x80');
    const struct {
        quint16 tag, type;
        quint32 value;
    } image[] = {
        {256, 4, kWidth}, {257, 4, kHeight},    {258, 3, 8},       {259, 3, 1},
        {262, 3, 1},      {271, 2, 0x00544F4E},  // Make "NOT"
        {273, 4, 8},      {277, 3, 1},          {278, 4, kHeight}, {279, 4, kWidth * kHeight}};
    const int count = int(std::size(image)) + tags;
    file += le(quint32(count), 2);
    for (const auto& e : image) {
        file += le(e.tag, 2) + le(e.type, 2) + le(e.tag == 271 ? 4 : 1, 4) + le(e.value, 4);
    }
    for (int k = 0; k < tags; ++k) {  // private tags, each a LONG
        file += le(quint32(0x8000 + k), 2) + le(4, 2) + le(1, 4) + le(quint32(k), 4);
    }
    return file + le(0, 4);
}
