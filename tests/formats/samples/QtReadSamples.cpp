#include "formats/FormatSamples.h"
#include "formats/samples/SampleStructure.h"
#include "formats/samples/TiffStructure.h"
#include "support/TestPictures.h"

#include <QBuffer>
#include <QDataStream>
#include <QImage>
#include <QImageWriter>
#include <QRegularExpression>

#include <algorithm>

// The kinds that Qt's readers decode, each made here or by Qt's writers, with their structure.

namespace {

QByteArray written(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(image)) {
        throw std::runtime_error(std::string("cannot write ") + format);
    }
    return bytes;
}

std::uint32_t le(const QByteArray& b, qsizetype at, int width) {
    std::uint32_t v = 0;
    for (int k = width - 1; k >= 0; --k) {
        v = v << 8 | static_cast<std::uint8_t>(b[at + k]);
    }
    return v;
}

QByteArray leBytes(std::uint32_t v, int width) {
    QByteArray b;
    for (int k = 0; k < width; ++k) {
        b += char(v >> (8 * k) & 0xFF);
    }
    return b;
}

// A bitmap's headers and rows. `plain`: its rows are stored as they are.
void addBmpStructure(ContractSample& s, qsizetype at = 0, bool plain = true) {
    const QByteArray& b = s.bytes;
    const qsizetype info = at + 14;
    const std::uint32_t headerSize = le(b, info, 4);
    const std::uint32_t offset = le(b, at + 10, 4);
    s.boundaries.insert(s.boundaries.end(), {at + 14, info + qsizetype(headerSize), at + offset});
    s.fields.push_back(IntegerField("file size", at + 2, 4, false));
    s.fields.push_back(IntegerField("pixel data offset", at + 10, 4, false, FieldKind::Offset));
    s.fields.push_back(IntegerField("header size", info, 4, false));
    s.fields.push_back(IntegerField("width", info + 4, 4, false));
    s.fields.push_back(IntegerField("height", info + 8, 4, false));
    s.fields.push_back(IntegerField("bits a pixel", info + 14, 2, false));
    s.fields.push_back(IntegerField("image size", info + 20, 4, false));
    s.fields.push_back(IntegerField("colours used", info + 32, 4, false, FieldKind::Count));
    if (plain) {
        s.plainSamples.push_back({at + offset, b.size()});
    }
}

// An 8-bit bitmap of `width` x `height`, its rows run-length coded: runs of two pixels.
QByteArray rleBitmap(int width, int height) {
    QByteArray rows;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; x += 2) {
            rows += char(std::min(2, width - x));
            rows += char((x * 5 + y * 11) & 0xFF);
        }
        rows += QByteArray::fromHex("0000");  // the row's end
    }
    rows += QByteArray::fromHex("0001");  // the picture's end
    QByteArray palette;
    for (int i = 0; i < 256; ++i) {
        palette += char(i) + QByteArray(1, char(255 - i)) + QByteArray(1, char(i * 7)) + '\0';
    }
    const std::uint32_t offset = 14 + 40 + 1024;
    return "BM" + leBytes(offset + rows.size(), 4) + leBytes(0, 4) + leBytes(offset, 4) +
           leBytes(40, 4) + leBytes(width, 4) + leBytes(height, 4) + leBytes(1, 2) + leBytes(8, 2) +
           leBytes(1, 4) + leBytes(rows.size(), 4) + leBytes(2835, 4) + leBytes(2835, 4) +
           leBytes(256, 4) + leBytes(0, 4) + palette + rows;
}

// A GIF of the picture's green samples as indexes into a table of 256 colours, its LZW codes
// literal (9 bits, the table cleared before it grows), in sub-blocks; `frames` frames, the first
// the picture.
QByteArray gifOf(const BgrxImage& picture, int frames) {
    const int w = picture.width(), h = picture.height();
    QByteArray b = "GIF89a" + leBytes(w, 2) + leBytes(h, 2) + QByteArray::fromHex("f70000");
    for (int i = 0; i < 256; ++i) {
        b += char(i) + QByteArray(1, char(255 - i)) + QByteArray(1, char(i * 7));
    }
    for (int f = 0; f < frames; ++f) {
        b += QByteArray::fromHex("21f90400") + leBytes(10, 2) + QByteArray::fromHex("0000");
        b += "," + leBytes(0, 2) + leBytes(0, 2) + leBytes(w, 2) + leBytes(h, 2) + '\0';
        b += char(8);
        QByteArray data;
        std::uint32_t bits = 0;
        int held = 0;
        const auto put = [&](unsigned code) {
            bits |= code << held;
            for (held += 9; held >= 8; held -= 8, bits >>= 8) {
                data += char(bits & 0xFF);
            }
        };
        for (int i = 0; i < w * h; ++i) {
            if (i % 250 == 0) {
                put(256);
            }
            put((ColourAt(picture, i % w, i / w) >> 8 & 0xFF) ^ unsigned(f * 40));
        }
        put(257);
        if (held > 0) {
            data += char(bits & 0xFF);
        }
        for (qsizetype at = 0; at < data.size(); at += 255) {
            const QByteArray block = data.mid(at, 255);
            b += char(block.size()) + block;
        }
        b += '\0';
    }
    return b + ";";
}

void addGifStructure(ContractSample& s) {
    const QByteArray& b = s.bytes;
    s.fields.push_back(IntegerField("screen width", 6, 2, false));
    s.fields.push_back(IntegerField("screen height", 8, 2, false));
    qsizetype at = 13 + 768;
    s.boundaries.push_back(at);
    while (at < b.size() && b[at] != ';') {
        s.boundaries.push_back(at);
        if (b[at] == '!') {
            at += 2;
        } else {
            s.fields.push_back(IntegerField("frame left", at + 1, 2, false, FieldKind::Offset));
            s.fields.push_back(IntegerField("frame width", at + 5, 2, false));
            s.fields.push_back(IntegerField("frame height", at + 7, 2, false));
            at += 11;
        }
        while (at < b.size() && b[at] != 0) {
            s.boundaries.push_back(at);
            s.fields.push_back(IntegerField("sub-block length", at, 1, false, FieldKind::Count));
            at += 1 + static_cast<std::uint8_t>(b[at]);
        }
        ++at;
    }
    s.boundaries.push_back(at);
}

// An icon holding `pictures`, each an entry of the directory.
QByteArray iconOf(const std::vector<QByteArray>& pictures, const std::vector<int>& sides) {
    QByteArray b = leBytes(0, 2) + leBytes(1, 2) + leBytes(std::uint32_t(pictures.size()), 2);
    std::uint32_t offset = 6 + 16 * std::uint32_t(pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        b += char(sides[i] % 256) + QByteArray(1, char(sides[i] % 256)) + QByteArray(2, '\0') +
             leBytes(1, 2) + leBytes(32, 2) + leBytes(std::uint32_t(pictures[i].size()), 4) +
             leBytes(offset, 4);
        offset += std::uint32_t(pictures[i].size());
    }
    for (const QByteArray& p : pictures) {
        b += p;
    }
    return b;
}

// A bitmap as an icon keeps it: the header alone, with the height doubled for the mask after
// the colours (32 bits a pixel, the mask all clear).
QByteArray iconBitmap(const BgrxImage& picture) {
    const int w = picture.width(), h = picture.height();
    QByteArray b = leBytes(40, 4) + leBytes(w, 4) + leBytes(2 * h, 4) + leBytes(1, 2) +
                   leBytes(32, 2) + leBytes(0, 4) + leBytes(0, 4) + QByteArray(16, '\0');
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            b += leBytes(0xFF000000u | ColourAt(picture, x, y), 4);
        }
    }
    b += QByteArray(((w + 31) / 32) * 4 * h, '\0');
    return b;
}

void addIconStructure(ContractSample& s) {
    const QByteArray& b = s.bytes;
    const int count = int(le(b, 4, 2));
    s.fields.push_back(IntegerField("entries", 4, 2, false, FieldKind::Count));
    for (int i = 0; i < count; ++i) {
        const qsizetype entry = 6 + 16 * i;
        const std::string n = "entry " + std::to_string(i) + " ";
        s.boundaries.push_back(entry);
        s.fields.push_back(IntegerField(n + "width", entry, 1, false));
        s.fields.push_back(IntegerField(n + "height", entry + 1, 1, false));
        s.fields.push_back(IntegerField(n + "bytes", entry + 8, 4, false));
        s.fields.push_back(IntegerField(n + "offset", entry + 12, 4, false, FieldKind::Offset));
        const qsizetype data = qsizetype(le(b, entry + 12, 4));
        s.boundaries.push_back(data);
        s.boundaries.push_back(data + qsizetype(le(b, entry + 8, 4)));
        if (b.mid(data, 4) == QByteArray("\x89PNG", 4)) {
            continue;
        }
        s.fields.push_back(IntegerField(n + "bitmap width", data + 4, 4, false));
        s.fields.push_back(IntegerField(n + "bitmap height", data + 8, 4, false));
        s.plainSamples.push_back(
            {data + qsizetype(le(b, data, 4)), data + qsizetype(le(b, entry + 8, 4))});
    }
    // An icon's pictures are those its directory lists: one listed fewer leaves a valid icon.
    s.fields[0].staysValid = "the pictures are those the directory lists";
}

// The picture with an alpha that varies, clear to opaque: writers drop an alpha that is opaque
// throughout.
QImage translucent(const BgrxImage& picture) {
    QImage image = SampleImage(picture, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = x < 4 ? 0 : std::min(255, (x * 11 + y * 5) & 0x1FF);
            image.setPixel(x, y, QRgb(alpha) << 24 | (image.pixel(x, y) & 0xFFFFFFu));
        }
    }
    return image;
}

// Whether a WebP's picture keeps an alpha: an ALPH chunk beside a lossy one, or a lossless one
// whose header says it uses alpha.
bool keepsAlpha(const QByteArray& b) {
    for (qsizetype at = 12; at + 8 <= b.size();) {
        const std::uint32_t size = le(b, at + 4, 4);
        if (b.mid(at, 4) == "ALPH") {
            return true;
        }
        if (b.mid(at, 4) == "VP8L" && at + 13 <= b.size()) {
            return (le(b, at + 9, 4) >> 28 & 1) != 0;
        }
        at += 8 + qsizetype(size) + (size & 1);
    }
    return false;
}

void addRiffStructure(ContractSample& s) {
    const QByteArray& b = s.bytes;
    s.fields.push_back(IntegerField("RIFF size", 4, 4, false));
    for (qsizetype at = 12; at + 8 <= b.size();) {
        const std::uint32_t size = le(b, at + 4, 4);
        s.boundaries.push_back(at);
        s.boundaries.push_back(at + 8);
        s.fields.push_back(IntegerField(b.mid(at, 4).toStdString() + " size", at + 4, 4, false));
        if (b.mid(at, 4) == "VP8X") {
            s.fields.push_back(IntegerField("canvas width", at + 12, 3, false));
            s.fields.push_back(IntegerField("canvas height", at + 15, 3, false));
        } else if (b.mid(at, 4) == "VP8 ") {
            // The key frame's header (10 bytes), then the first partition of modes and the
            // coefficients' partitions, which the decoder reads only as far as its macroblocks
            // need and checks no further.
            s.fields.push_back(IntegerField("frame width", at + 14, 2, false));
            s.fields.push_back(IntegerField("frame height", at + 16, 2, false));
            s.fields.back().staysValid = s.fields[s.fields.size() - 2].staysValid =
                "the partitions are read only as far as the macroblocks need";
            s.uncheckedData.push_back({at + 18, at + 8 + qsizetype(size)});
        }
        at += 8 + qsizetype(size) + (size & 1);
    }
}

// Every number written as text in the header part of `s` (before `end`).
void addTextNumbers(ContractSample& s, qsizetype end, const char* what) {
    const QRegularExpression number("[0-9]+");
    const QString head = QString::fromLatin1(s.bytes.left(end));
    for (auto m = number.globalMatch(head); m.hasNext();) {
        const auto found = m.next();
        s.fields.push_back(
            TextNumberField(what + std::string(" ") + std::to_string(found.capturedStart()),
                            found.capturedStart(), found.capturedLength()));
    }
}

}  // namespace

std::vector<ContractSample> BmpSamples() {
    std::vector<ContractSample> samples{
        {"24-bit, 61 x 37",
         written(SampleImage(SamplePicture(61, 37), QImage::Format_RGB888), "bmp")},
        {"8-bit palette, 40 x 30",
         written(SampleImage(SamplePicture(40, 30, 1), QImage::Format_Indexed8), "bmp")},
        {"1-bit, 70 x 21",
         written(SampleImage(SamplePicture(70, 21, 2), QImage::Format_Mono), "bmp")},
        {"8-bit run-length coded, 50 x 20", rleBitmap(50, 20)},
    };
    for (std::size_t i = 0; i < samples.size(); ++i) {
        addBmpStructure(samples[i], 0, i + 1 < samples.size());
    }
    // Run-length codes may leave pixels out (a move, or an early end): a bitmap larger than its
    // codes reach is a valid one, the rest of it background.
    for (FieldEdit& field : samples.back().fields) {
        if (field.what == "width" || field.what == "height") {
            field.staysValid = "run-length codes may leave pixels out";
        }
    }
    return samples;
}

std::vector<ContractSample> GifSamples() {
    std::vector<ContractSample> samples{
        {"one frame, 64 x 48", gifOf(SamplePicture(64, 48), 1)},
        {"three frames, 37 x 29", gifOf(SamplePicture(37, 29, 1), 3)},
    };
    for (ContractSample& s : samples) {
        addGifStructure(s);
        // A frame may cover only part of its screen, the rest the background.
        for (FieldEdit& field : s.fields) {
            if (field.what == "screen width" || field.what == "screen height") {
                field.staysValid = "a frame may cover part of its screen";
            }
        }
    }
    return samples;
}

std::vector<ContractSample> IcoSamples() {
    const QByteArray small =
        written(SampleImage(SamplePicture(16, 16), QImage::Format_ARGB32), "png");
    const QByteArray large =
        written(SampleImage(SamplePicture(48, 48, 1), QImage::Format_ARGB32), "png");
    std::vector<ContractSample> samples{
        {"two PNG pictures, 16 and 48", iconOf({small, large}, {16, 48})},
        {"a bitmap, 32 x 32", iconOf({iconBitmap(SamplePicture(32, 32, 2))}, {32})},
    };
    for (ContractSample& s : samples) {
        addIconStructure(s);
    }
    return samples;
}

std::vector<ContractSample> WebpSamples() {
    std::vector<ContractSample> samples{
        {"lossy, 64 x 48",
         written(SampleImage(SamplePicture(64, 48), QImage::Format_RGB32), "webp", 80)},
        {"lossless, 40 x 30",
         written(SampleImage(SamplePicture(40, 30, 1), QImage::Format_RGB32), "webp", 100)},
        {"lossy with alpha, 30 x 20", written(translucent(SamplePicture(30, 20, 2)), "webp", 90)},
        {"lossless with alpha, 30 x 20",
         written(translucent(SamplePicture(30, 20, 3)), "webp", 100)},
    };
    for (ContractSample& s : samples) {
        if (s.name.find("alpha") != std::string::npos && !keepsAlpha(s.bytes)) {
            throw std::runtime_error("the WebP writer dropped the alpha of " + s.name);
        }
        addRiffStructure(s);
    }
    return samples;
}

std::vector<ContractSample> XbmSamples() {
    std::vector<ContractSample> samples{
        {"45 x 21", written(SampleImage(SamplePicture(45, 21), QImage::Format_Mono), "xbm")},
        {"16 x 16", written(SampleImage(SamplePicture(16, 16, 1), QImage::Format_Mono), "xbm")},
    };
    for (ContractSample& s : samples) {
        const qsizetype body = s.bytes.indexOf('{');
        addTextNumbers(s, body, "size");
        s.boundaries.push_back(body);
        for (qsizetype at = s.bytes.indexOf("0x", body); at >= 0;
             at = s.bytes.indexOf("0x", at + 1)) {
            s.boundaries.push_back(at);
        }
    }
    return samples;
}

std::vector<ContractSample> NetpbmSamples() {
    std::vector<ContractSample> samples{
        {"P6 colour, 40 x 30",
         written(SampleImage(SamplePicture(40, 30), QImage::Format_RGB888), "ppm")},
        {"P5 grey, 33 x 17",
         written(SampleImage(SamplePicture(33, 17, 1), QImage::Format_Grayscale8), "pgm")},
        {"P4 bits, 50 x 20",
         written(SampleImage(SamplePicture(50, 20, 2), QImage::Format_Mono), "pbm")},
    };
    for (ContractSample& s : samples) {
        // The header: the kind, the size and the largest value, each line ending in a newline.
        qsizetype end = 0;
        for (int line = 0; line < (s.bytes[1] == '4' ? 2 : 3); ++line) {
            end = s.bytes.indexOf('\n', end) + 1;
        }
        addTextNumbers(s, end, "header number");
        s.boundaries.push_back(end);
        s.plainSamples.push_back({end, s.bytes.size()});
    }
    return samples;
}

std::vector<CostlySample> BmpCostlySamples() {
    // 8192 x 8192 in run-length codes that move straight to the last row and end there.
    QByteArray b = rleBitmap(2, 1);
    const QByteArray codes = QByteArray::fromHex("0002fffe") + QByteArray::fromHex("0001");
    b.replace(14 + 4, 8, leBytes(8192, 4) + leBytes(8192, 4));
    b.replace(14 + 40 + 1024, b.size() - (14 + 40 + 1024), codes);
    return {{"8192 x 8192 in a few run-length codes", b}};
}

std::vector<CostlySample> GifCostlySamples() {
    // One colour over 8192 x 8192: LZW codes for ever longer runs of it, the table cleared when
    // full, a few tens of KB.
    const int side = 8192;
    QByteArray b = "GIF89a" + leBytes(side, 2) + leBytes(side, 2) + QByteArray::fromHex("800000") +
                   QByteArray::fromHex("000000ffffff") + "," + leBytes(0, 4) + leBytes(side, 2) +
                   leBytes(side, 2) + '\0' + char(2);
    QByteArray data;
    std::uint32_t bits = 0;
    int held = 0, size = 3;
    const auto put = [&](unsigned code) {
        bits |= code << held;
        for (held += size; held >= 8; held -= 8, bits >>= 8) {
            data += char(bits & 0xFF);
        }
    };
    const unsigned clear = 4, end = 5;
    unsigned next = 6;
    std::uint64_t left = std::uint64_t(side) * side;
    std::uint64_t length = 0;  // of the run emitted last, 0 after a clear
    put(clear);
    while (left > 0) {
        // The next run is one longer than the last, when the table has its code.
        const bool longer = length > 0 && length + 1 <= left;
        put(longer ? next - 1 : 0);
        length = longer ? length + 1 : 1;
        left -= length;
        // The code just written was the last of its width when the table reached it.
        if (next == (1u << size) && size < 12) {
            ++size;
        }
        if (++next == 4095) {
            put(clear);
            size = 3;
            next = 6;
            length = 0;
        }
    }
    put(end);
    if (held > 0) {
        data += char(bits & 0xFF);
    }
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const QByteArray block = data.mid(at, 255);
        b += char(block.size()) + block;
    }
    return {{"one colour over 8192 x 8192", b + QByteArray(1, '\0') + ";"}};
}

std::vector<CostlySample> IcoCostlySamples() {
    QImage flat(8192, 8192, QImage::Format_Grayscale8);
    flat.fill(200);
    // The directory's 0 stands for 256 or more: the PNG's own header says how much more.
    return {{"an entry of 256 or more over a PNG of 8192 x 8192",
             iconOf({written(flat, "png")}, {8192})}};
}

std::vector<CostlySample> WebpCostlySamples() {
    QImage flat(4096, 4096, QImage::Format_RGB32);
    flat.fill(0xFF336699);
    return {{"flat 4096 x 4096, lossless", written(flat, "webp", 100)}};
}

std::vector<CostlySample> XbmCostlySamples() {
    return {
        {"states 8192 x 8193 in two bytes",
         "#define d_width 8192\n#define d_height 8193\nstatic char d_bits[] = {\n0x00, 0xff };\n"}};
}

std::vector<CostlySample> NetpbmCostlySamples() {
    return {{"P4 of 8192 x 8192", "P4\n8192 8192\n" + QByteArray(8192 / 8 * 8192, '\x55')}};
}

std::vector<ContractSample> TiffSamples() {
    const auto tiff = [](const QImage& image, int compression) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "tiff");
        writer.setCompression(compression);
        if (!writer.write(image)) {
            throw std::runtime_error("cannot write a TIFF");
        }
        return bytes;
    };
    std::vector<ContractSample> samples{
        {"colour, 64 x 48", tiff(SampleImage(SamplePicture(64, 48), QImage::Format_RGB888), 0)},
        {"colour, LZW, 150 x 101",
         tiff(SampleImage(SamplePicture(150, 101, 1), QImage::Format_RGB888), 1)},
        {"grey, 77 x 31",
         tiff(SampleImage(SamplePicture(77, 31, 2), QImage::Format_Grayscale8), 0)},
        {"16-bit colour with alpha, LZW, 40 x 30",
         tiff(SampleImage(SamplePicture(40, 30, 3), QImage::Format_RGBA64), 1)},
        {"1-bit, 70 x 21", tiff(SampleImage(SamplePicture(70, 21, 4), QImage::Format_Mono), 0)},
    };
    for (ContractSample& s : samples) {
        AddTiffStructure(s);
    }
    return samples;
}

std::vector<CostlySample> TiffCostlySamples() {
    QImage flat(8192, 8192, QImage::Format_Grayscale8);
    flat.fill(90);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    writer.setCompression(1);
    writer.write(flat);
    return {{"flat grey 8192 x 8192, LZW", bytes}};
}
