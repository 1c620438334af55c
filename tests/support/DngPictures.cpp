#include "support/DngPictures.h"

#include "support/LosslessJpeg.h"
#include "support/TestPictures.h"
#include "support/TiffWriter.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace {

// The sensor's samples: RGGB, red at even rows and columns, blue at odd ones, green between,
// each the picture's channel scaled to `bits`.
std::vector<std::uint16_t> sensorOf(const BgrxImage& picture, int bits) {
    const std::uint32_t most = (1u << bits) - 1;
    std::vector<std::uint16_t> samples;
    samples.reserve(std::size_t(picture.width()) * picture.height());
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const quint32 c = ColourAt(picture, x, y);
            const int shift = (y % 2 == 0 && x % 2 == 0) ? 16 : (y % 2 == 1 && x % 2 == 1) ? 0 : 8;
            samples.push_back(std::uint16_t(((c >> shift & 0xFF) * most + 127) / 255));
        }
    }
    return samples;
}

// A part of the sensor, `width` × `height` from (x, y), zero beyond its edges.
std::vector<std::uint16_t> partOf(const std::vector<std::uint16_t>& sensor, int sensorWidth,
                                  int sensorHeight, int x, int y, int width, int height) {
    std::vector<std::uint16_t> part(std::size_t(width) * height, 0);
    for (int row = 0; row < height && y + row < sensorHeight; ++row) {
        for (int col = 0; col < width && x + col < sensorWidth; ++col) {
            part[std::size_t(row) * width + col] =
                sensor[std::size_t(y + row) * sensorWidth + x + col];
        }
    }
    return part;
}

// Plain samples, rows beginning on a byte: 16 bits in the file's order, or 12 packed with the
// first bit highest.
QByteArray plainOf(const std::vector<std::uint16_t>& part, int width, int bits, bool bigEndian) {
    QByteArray out;
    for (std::size_t row = 0; row < part.size() / width; ++row) {
        std::uint32_t pending = 0;
        int filled = 0;
        for (int col = 0; col < width; ++col) {
            const std::uint16_t v = part[row * width + col];
            if (bits == 16) {
                out += char(bigEndian ? v >> 8 : v & 0xFF);
                out += char(bigEndian ? v & 0xFF : v >> 8);
                continue;
            }
            pending = pending << bits | v;
            filled += bits;
            while (filled >= 8) {
                out += char(pending >> (filled - 8) & 0xFF);
                filled -= 8;
            }
        }
        if (filled > 0) {
            out += char(pending << (8 - filled) & 0xFF);
        }
    }
    return out;
}

QByteArray jpegOf(const std::vector<std::uint16_t>& part, int width, int height, int bits,
                  int components) {
    return LosslessJpegBytes(part, width / components, height, components, bits);
}

}  // namespace

QByteArray DngBytesOf(const BgrxImage& picture, const DngLayout& layout, int bits,
                      int orientation) {
    const int w = picture.width();
    const int h = picture.height();
    if (bits > layout.bitsPerSample || (layout.tile % 16) != 0 ||
        (layout.losslessJpeg && (layout.tile != 0 ? layout.tile : w) % layout.jpegComponents)) {
        throw std::invalid_argument("DngBytesOf: a layout that cannot hold the picture");
    }
    const std::vector<std::uint16_t> sensor = sensorOf(picture, bits);
    const int bps = layout.lossyJpeg ? 8 : layout.bitsPerSample;
    std::vector<QByteArray> pieces;
    const auto piece = [&](int x, int y, int pw, int ph) {
        if (layout.lossyJpeg) {
            // The colours of the part, its edges repeated beyond the picture's.
            pieces.push_back(JpegBytesOf(MakePicture(pw, ph,
                                                     [&](int px, int py) {
                                                         return ColourAt(picture,
                                                                         std::min(x + px, w - 1),
                                                                         std::min(y + py, h - 1));
                                                     }),
                                         95));
            return;
        }
        const auto part = partOf(sensor, w, h, x, y, pw, ph);
        pieces.push_back(layout.losslessJpeg ? jpegOf(part, pw, ph, bps, layout.jpegComponents)
                                             : plainOf(part, pw, bps, layout.bigEndian));
    };
    const int rowsPerStrip = (h + layout.strips - 1) / layout.strips;
    if (layout.tile > 0) {
        for (int y = 0; y < h; y += layout.tile) {
            for (int x = 0; x < w; x += layout.tile) {
                piece(x, y, layout.tile, layout.tile);
            }
        }
    } else {
        for (int y = 0; y < h; y += rowsPerStrip) {
            piece(0, y, w, std::min(rowsPerStrip, h - y));
        }
    }

    DngSensorData data{w,           h,
                       bps,         layout.lossyJpeg ? 34892 : layout.losslessJpeg ? 7 : 1,
                       layout.tile, rowsPerStrip,
                       pieces};
    if (layout.lossyJpeg) {
        data.samples = 3;
        bits = 8;
    }
    BgrxImage preview;
    if (layout.preview) {
        preview = MakePicture(std::max(1, w / 8), std::max(1, h / 8),
                              [&](int x, int y) { return ColourAt(picture, x * 8, y * 8); });
    }
    return DngFileOf(data, bits, orientation, layout.bigEndian, preview);
}

QByteArray DngFileOf(const DngSensorData& data, int bits, int orientation, bool bigEndian,
                     const BgrxImage& preview) {
    const bool hasPreview = preview.width() > 0;
    TiffWriter t(bigEndian);
    const int first = t.directory();
    const int raw = hasPreview ? t.directory(first) : first;
    // What says how to read the picture, in the first directory.
    t.text(first, 271, "Tonvaler");
    t.text(first, 272, "Test Sensor");
    t.shorts(first, 274, {std::uint16_t(orientation)});
    t.bytes(first, 50706, 1, QByteArray("\1\4\0\0", 4));
    t.text(first, 50708, "Tonvaler Test Sensor");
    // XYZ (D65) to the sensor's values: the inverse of sRGB's primaries.
    t.rationals(first, 50721, 10,
                {3.2406, -1.5372, -0.4986, -0.9689, 1.8758, 0.0415, 0.0557, -0.2040, 1.0570});
    t.rationals(first, 50728, 5, {1, 1, 1});
    t.shorts(first, 50778, {21});
    if (hasPreview) {
        QByteArray rgb;
        for (int y = 0; y < preview.height(); ++y) {
            for (int x = 0; x < preview.width(); ++x) {
                const quint32 c = ColourAt(preview, x, y);
                rgb += char(c >> 16 & 0xFF);
                rgb += char(c >> 8 & 0xFF);
                rgb += char(c & 0xFF);
            }
        }
        t.longs(first, 254, {1});
        t.longs(first, 256, {std::uint32_t(preview.width())});
        t.longs(first, 257, {std::uint32_t(preview.height())});
        t.shorts(first, 258, {8, 8, 8});
        t.shorts(first, 259, {1});
        t.shorts(first, 262, {2});
        t.shorts(first, 277, {3});
        t.longs(first, 278, {std::uint32_t(preview.height())});
        t.shorts(first, 284, {1});
        t.blocks(first, 273, 279, {rgb});
    }
    t.longs(raw, 254, {0});
    t.longs(raw, 256, {std::uint32_t(data.width)});
    t.longs(raw, 257, {std::uint32_t(data.height)});
    const auto bps = std::uint16_t(data.bitsPerSample);
    t.shorts(raw, 258, std::vector<std::uint16_t>(std::size_t(data.samples), bps));
    t.shorts(raw, 259, {std::uint16_t(data.compression)});
    // A colour filter array, or a linear picture.
    t.shorts(raw, 262, {std::uint16_t(data.samples == 1 ? 32803 : 34892)});
    t.shorts(raw, 277, {std::uint16_t(data.samples)});
    t.shorts(raw, 284, {1});
    if (data.tile > 0) {
        t.longs(raw, 322, {std::uint32_t(data.tile)});
        t.longs(raw, 323, {std::uint32_t(data.tile)});
        t.blocks(raw, 324, 325, data.pieces, data.entries);
    } else {
        t.longs(raw, 278, {std::uint32_t(data.rowsPerStrip)});
        t.blocks(raw, 273, 279, data.pieces, data.entries);
    }
    if (data.samples == 1) {
        t.shorts(raw, 33421, {2, 2});
        t.bytes(raw, 33422, 1, QByteArray("\0\1\1\2", 4));
    }
    t.longs(raw, 50714, {0});
    t.longs(raw, 50717, {(1u << bits) - 1});
    if (!data.activeArea.empty()) {
        t.longs(raw, 50829, data.activeArea);
    }
    return t.file();
}

QByteArray DngOfOneTileForAll(int width, int height, int tile) {
    const std::vector<std::uint16_t> grey(std::size_t(tile) * tile, 2048);
    const int tiles = ((width + tile - 1) / tile) * ((height + tile - 1) / tile);
    DngSensorData data{width,
                       height,
                       12,
                       7,
                       tile,
                       0,
                       {LosslessJpegBytes(grey, tile, tile, 1, 12)},
                       std::vector<int>(std::size_t(tiles), 0)};
    return DngFileOf(data, 12);
}

QByteArray DngShowingPartOfItsSensor(int sensor, int shown, int tile) {
    const QByteArray flat = LosslessJpegBytes(
        std::vector<std::uint16_t>(std::size_t(tile) * tile, 2048), tile, tile, 1, 12);
    const int tiles = ((sensor + tile - 1) / tile) * ((sensor + tile - 1) / tile);
    DngSensorData data{sensor, sensor, 12, 7, tile, 0, std::vector<QByteArray>(tiles, flat)};
    const auto top = std::uint32_t((sensor - shown) / 2);
    data.activeArea = {top, top, top + std::uint32_t(shown), top + std::uint32_t(shown)};
    return DngFileOf(data, 12);
}

QByteArray DngBytesOf(const BgrxImage& picture, int bits, int orientation) {
    return DngBytesOf(picture, DngLayout{}, bits, orientation);
}

QByteArray GreyTiffBytes(int width, int height, const char* make) {
    QByteArray data;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto v = static_cast<std::uint16_t>(x * 65535 / std::max(1, width - 1));
            data += char(v & 0xFF);
            data += char(v >> 8);
        }
    }
    TiffWriter t;
    const int d = t.directory();
    t.longs(d, 256, {std::uint32_t(width)});
    t.longs(d, 257, {std::uint32_t(height)});
    t.shorts(d, 258, {16});
    t.shorts(d, 259, {1});
    t.shorts(d, 262, {1});  // black is zero
    t.text(d, 271, make);
    t.shorts(d, 277, {1});
    t.longs(d, 278, {std::uint32_t(height)});
    t.shorts(d, 284, {1});
    t.blocks(d, 273, 279, {data});
    return t.file();
}
