#include "support/TestPictures.h"

#include <QBuffer>
#include <QDataStream>
#include <QFile>

#include <turbojpeg.h>

#include <jpeglib.h>
#include <cstdio>  // jpeglib.h needs FILE

#include <vector>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

BgrxImage MakePicture(int width, int height, const std::function<quint32(int, int)>& colour) {
    BgrxImage p(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const quint32 c = colour(x, y);
            std::uint8_t* px = p.row(y) + 4 * x;
            px[0] = c & 0xFF;
            px[1] = (c >> 8) & 0xFF;
            px[2] = (c >> 16) & 0xFF;
            px[3] = 0;
        }
    }
    return p;
}

namespace {

QByteArray compress(const unsigned char* pixels, int width, int pitch, int height, int format,
                    int subsampling, int quality, int flags = 0) {
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjCompress2(tj, pixels, width, pitch, height, format, &out, &size, subsampling, quality,
                    flags) != 0) {
        tjDestroy(tj);
        throw std::runtime_error(tjGetErrorStr2(nullptr));
    }
    QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(size));
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

QByteArray exifBlock(int orientation, bool bigEndian) {
    const auto u16 = [&](quint16 v) {
        QByteArray two(2, '\0');
        two[bigEndian ? 0 : 1] = char(v >> 8);
        two[bigEndian ? 1 : 0] = char(v & 0xFF);
        return two;
    };
    const auto u32 = [&](quint32 v) {
        return bigEndian ? u16(v >> 16) + u16(v & 0xFFFF) : u16(v & 0xFFFF) + u16(v >> 16);
    };
    QByteArray tiff = bigEndian ? QByteArray("MM\0*", 4) : QByteArray("II*\0", 4);
    tiff += u32(8);  // the first IFD follows at once
    tiff += u16(2);  // two entries
    tiff += u16(0x010F) + u16(2) + u32(4) + QByteArray("Cam\0", 4);  // Make, an ASCII tag
    tiff += u16(0x0112) + u16(3) + u32(1) + u16(orientation) + u16(0);
    tiff += u32(0);
    QByteArray app1("\xFF\xE1", 2);
    const int length = 2 + 6 + tiff.size();
    app1 += char(length >> 8);
    app1 += char(length & 0xFF);
    app1 += QByteArray("Exif\0\0", 6) + tiff;
    return app1;
}

}  // namespace

QByteArray JpegBytesOf(const BgrxImage& picture, int quality, int orientation, bool bigEndian) {
    QByteArray jpeg = compress(picture.data(), picture.width(), static_cast<int>(picture.stride()),
                               picture.height(), TJPF_BGRX, TJSAMP_444, quality);
    if (orientation != 0) {
        jpeg.insert(2, exifBlock(orientation, bigEndian));
    }
    return jpeg;
}

QByteArray ProgressiveJpegBytesOf(const BgrxImage& picture, int quality) {
    return compress(picture.data(), picture.width(), static_cast<int>(picture.stride()),
                    picture.height(), TJPF_BGRX, TJSAMP_444, quality, TJFLAG_PROGRESSIVE);
}

QByteArray CmykJpegBytes(int width, int height, quint8 c, quint8 m, quint8 y, quint8 k) {
    QByteArray pixels;
    for (int i = 0; i < width * height; ++i) {
        pixels += char(c);
        pixels += char(m);
        pixels += char(y);
        pixels += char(k);
    }
    return compress(reinterpret_cast<const unsigned char*>(pixels.constData()), width, 4 * width,
                    height, TJPF_CMYK, TJSAMP_444, 95);
}

QByteArray IconFileBytes(QColor colour, std::optional<QPoint> hotSpot) {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    QByteArray file;
    QDataStream s(&file, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    // The directory: type 1 (icon) or 2 (cursor), one entry; in a cursor the entry's planes and
    // bit count are the hot spot.
    s << quint16(0) << quint16(hotSpot ? 2 : 1) << quint16(1);
    s << quint8(32) << quint8(32) << quint8(0) << quint8(0) << quint16(hotSpot ? hotSpot->x() : 1)
      << quint16(hotSpot ? hotSpot->y() : 32) << quint32(png.size()) << quint32(22);
    file.append(png);
    return file;
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        throw std::runtime_error("cannot write " + path.toStdString());
    }
}

quint32 ColourAt(const BgrxImage& picture, int x, int y) {
    const std::uint8_t* px = picture.row(y) + 4 * x;
    return quint32(px[2]) << 16 | quint32(px[1]) << 8 | px[0];
}

bool Near(quint32 a, quint32 b, int tolerance) {
    for (int shift : {0, 8, 16}) {
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) {
            return false;
        }
    }
    return true;
}

QByteArray LibjpegBytesOf(int width, int height, const std::function<quint32(int, int)>& colour,
                          const JpegCoding& coding) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    const int components = coding.components;
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    for (int c = 0; c < info.num_components; ++c) {
        info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    }
    info.arith_code = coding.arithmetic;
    info.restart_in_rows = coding.restartRows;
    std::vector<jpeg_scan_info> script;
    for (const JpegScan& scan : coding.scans) {
        jpeg_scan_info s{scan.count, {}, scan.ss, scan.se, scan.ah, scan.al};
        std::copy(scan.component, scan.component + 4, s.component_index);
        script.push_back(s);
    }
    if (!script.empty()) {
        info.scan_info = script.data();
        info.num_scans = static_cast<int>(script.size());
    } else if (coding.progressive) {
        jpeg_simple_progression(&info);
    }
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * components);
    JSAMPROW rows[1] = {row.data()};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const quint32 c = colour(x, y);
            const JSAMPLE rgb[3] = {JSAMPLE(c >> 16), JSAMPLE(c >> 8), JSAMPLE(c)};
            for (int k = 0; k < components; ++k) {
                row[std::size_t(x) * components + k] = components == 1 ? rgb[1]
                                                       : k < 3         ? rgb[k]
                                                                       : JSAMPLE(x * 3 + y);
            }
        }
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(size));
    std::free(out);
    return bytes;
}

namespace {

// A flat grey or colour picture encoded with the scans of `script`.
QByteArray scriptedJpegBytes(int width, int height, int components, std::vector<JpegScan> script,
                             bool arithmetic) {
    return LibjpegBytesOf(width, height, [](int, int) { return quint32(0x808080); },
                          {components, arithmetic, false, std::move(script)});
}

}  // namespace

QByteArray ManyScanJpegBytes(int width, int height, int scans) {
    std::vector<JpegScan> script;
    script.push_back({1, {0}, 0, 0, 0, 0});
    for (int k = 1; k <= 63 && static_cast<int>(script.size()) < scans; ++k) {
        script.push_back({1, {0}, k, k, 0, 10});
        for (int al = 9; al >= 0 && static_cast<int>(script.size()) < scans; --al) {
            script.push_back({1, {0}, k, k, al + 1, al});
        }
    }
    return scriptedJpegBytes(width, height, 1, script, false);
}

QByteArray ArithmeticJpegBytes(int width, int height) {
    return scriptedJpegBytes(width, height, 1, {{1, {0}, 0, 63, 0, 0}}, true);
}

QByteArray RefiningJpegBytes(int width, int height) {
    std::vector<JpegScan> script;
    script.push_back({3, {0, 1, 2}, 0, 0, 0, 0});
    for (int c = 0; c < 3; ++c) {
        script.push_back({1, {c}, 1, 63, 0, 10});
        for (int al = 9; al >= 0; --al) {
            script.push_back({1, {c}, 1, 63, al + 1, al});
        }
    }
    return scriptedJpegBytes(width, height, 3, script, true);
}

BgrxImage ScaledPicture(const BgrxImage& photo, int width, int height) {
    BgrxImage out(width, height);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* from =
            photo.row(static_cast<int>(std::int64_t(y) * photo.height() / height));
        std::uint8_t* to = out.row(y);
        for (int x = 0; x < width; ++x) {
            const std::int64_t sx = std::int64_t(x) * photo.width() / width;
            std::copy_n(from + 4 * sx, 4, to + 4 * x);
        }
    }
    return out;
}
