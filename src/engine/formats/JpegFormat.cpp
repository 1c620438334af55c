#include "engine/formats/ByteReading.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/JpegDecoder.h"
#include "engine/formats/LoadFailure.h"
#include "engine/formats/Orientation.h"
#include "engine/formats/TiffDirectory.h"

#include <algorithm>
#include <string>
#include <vector>

// JPEG through libjpeg (JpegDecoder): its header's markers read here, its Exif orientation applied.

namespace {

using namespace bytes;
using Bytes = std::span<const std::uint8_t>;

bool isStartOfFrame(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// The samples a JPEG stores for each pixel, from the sampling factors of its `count` components
// listed from `at`: 3 for full colour, 1.5 when the two colour components are halved both ways.
double samplesPerPixel(Bytes b, std::size_t at, int count) {
    if (count <= 0 || at + 3 * std::size_t(count) > b.size()) {
        return count;
    }
    int mostH = 1, mostV = 1;
    for (int c = 0; c < count; ++c) {
        mostH = std::max(mostH, b[at + 3 * c + 1] >> 4);
        mostV = std::max(mostV, b[at + 3 * c + 1] & 15);
    }
    double samples = 0;
    for (int c = 0; c < count; ++c) {
        samples += double(b[at + 3 * c + 1] >> 4) * (b[at + 3 * c + 1] & 15) / (mostH * mostV);
    }
    return samples;
}

// Walks the markers before the picture data as the decoder does, stray bytes skipped.
void probeJpeg(Bytes b, PictureProbe& p) {
    bool exifSeen = false;
    std::size_t at = 2;
    while (at + 4 <= b.size()) {
        if (b[at] != 0xFF || b[at + 1] == 0xFF) {
            ++at;
            continue;
        }
        const std::uint8_t marker = b[at + 1];
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            at += 2;
            continue;
        }
        if (marker == 0xDA) {
            // A scan of fewer components than the frame: the decoder keeps every coefficient
            // until the last scan, as for a progressive file.
            p.multiScan = p.progressive || (at + 4 < b.size() && b[at + 4] < p.components);
            return;
        }
        if (marker == 0xD9) {
            return;
        }
        // A length of 0 or 1 counts as 2 (nothing follows), as the decoder reads it.
        const std::size_t length = std::max<std::size_t>(be16(b, at + 2), 2);
        const std::size_t end = at + 2 + length;
        if (isStartOfFrame(marker) && at + 10 <= b.size() && p.width == 0) {
            p.height = be16(b, at + 5);
            p.width = be16(b, at + 7);
            p.components = b[at + 9];
            p.progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            p.samplesPerPixel = samplesPerPixel(b, at + 10, p.components);
            if (marker == 0xC3 || marker == 0xC7 || marker == 0xCB || marker == 0xCF) {
                p.refused = "lossless JPEG";
            } else if (b[at + 4] != 8) {
                p.refused = std::to_string(b[at + 4]) + "-bit JPEG";
            } else if (marker == 0xC5 || marker == 0xC6 || marker == 0xCD || marker == 0xCE) {
                p.refused = "hierarchical JPEG";
            }
        }
        if (marker == 0xE1 && !exifSeen && length >= 8 && end <= b.size() &&
            startsWith(b, "Exif\0\0", 6, at + 4)) {
            exifSeen = true;
            const TiffDirectory exif(b.subspan(at + 10, length - 8));
            // A segment that states fewer bytes than its Exif holds (its end falls inside the
            // directory, and no marker follows it) has lost the orientation with the rest.
            if (!exif.whole() && end < b.size() && b[end] != 0xFF) {
                p.truncation = "the picture is truncated or corrupt (its Exif block is cut short)";
                return;
            }
            p.orientation = exif.orientation();
        }
        at = end;
    }
}

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

class Jpeg final : public PictureFormat {
  public:
    PictureType type() const override { return PictureType::Jpeg; }
    const char* name() const override { return "JPEG"; }
    bool claims(Bytes head) const override { return startsWith(head, "\xFF\xD8", 2); }
    void probe(Bytes bytes, PictureProbe& p) const override { probeJpeg(bytes, p); }
    bool statesOrientation() const override { return true; }

    std::uint64_t workingBytes(const PictureProbe& p) const override {
        const std::uint64_t pixels = ChargedPixels(p);
        // The grey result and the encoded output take about a byte a pixel each at the most.
        std::uint64_t bytes = 2 * pixels;
        // A multi-scan file keeps all its coefficients, 2 bytes each, until the last scan.
        if (p.progressive || p.multiScan) {
            bytes += 2 * pixels * std::max(p.components, 1);
        }
        if (!p.servesBands()) {
            bytes += 8 * pixels;  // the decoded picture, and its upright copy
        }
        return bytes;
    }

    double nanosPerPixel(const PictureProbe& p) const override {
        // Measured on one core: a baseline file's filter, colour conversion and encoding take
        // most of its time; a progressive file's decoder passes over every sample again each
        // scan, from coefficients kept in memory.
        return p.progressive ? 10.5 + 4.2 * p.samplesPerPixel : 7.6 + 1.4 * p.samplesPerPixel;
    }

    BgrxImage decode(Bytes bytes, const PictureProbe& p, const QString& path) const override {
        const int orientation = p.orientation;
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

    // The first Exif and XMP segments before the scan, found by their markers.
    CaptureData captureData(Bytes bytes, int width, int height) const override {
        Bytes exif;
        std::string_view xmp;
        static constexpr char kXmp[] = "http://ns.adobe.com/xap/1.0/";
        for (std::size_t at = 2; at + 4 <= bytes.size() && bytes[at] == 0xFF;) {
            const std::uint8_t marker = bytes[at + 1];
            if (marker == 0xFF) {
                ++at;  // fill
                continue;
            }
            if (marker == 0xDA || marker == 0xD9) {
                break;
            }
            const std::size_t length = be16(bytes, at + 2);
            if (length < 2 || at + 2 + length > bytes.size()) {
                break;
            }
            const Bytes payload = bytes.subspan(at + 4, length - 2);
            if (marker == 0xE1 && exif.empty() && startsWith(payload, "Exif\0\0", 6)) {
                exif = payload.subspan(6);
            } else if (marker == 0xE1 && xmp.empty() && startsWith(payload, kXmp, sizeof kXmp)) {
                xmp = {reinterpret_cast<const char*>(payload.data()) + sizeof kXmp,
                       payload.size() - sizeof kXmp};
            }
            at += 2 + length;
        }
        return CaptureDataOf(exif, xmp, width, height);
    }

    BgrxImage quickLook(Bytes bytes, const PictureProbe& p, const QString& path,
                        int side) const override {
        const long long longer = std::max(p.width, p.height);
        if (longer < 2LL * side) {
            return {};
        }
        const int denominator = longer >= 8LL * side ? 8 : longer >= 4LL * side ? 4 : 2;
        BgrxImage small = DecodeJpeg(bytes.data(), bytes.size(), path, [&](JpegDecoder& decoder) {
            decoder.lookQuickly(denominator);
            return allRows(decoder);
        });
        return Orient(std::move(small), p.orientation);
    }
};

}  // namespace

const PictureFormat& JpegFormat() {
    static const Jpeg format;
    return format;
}
