#include "engine/FilterWhileDecoding.h"

#include "engine/formats/JpegDecoder.h"

#include <algorithm>
#include <cstring>

namespace {

// About a quarter of a core's second-level cache, so that the band, the decoder's own buffers
// and the result's rows stay in it.
constexpr std::size_t kBandBytes = 256 * 1024;

void filterBands(JpegDecoder& decoder, const QString& path, FilterThresholds thresholds,
                 GreyRowSink& sink) {
    const int width = decoder.width();
    const int height = decoder.height();
    CheckPictureSize(path, width, height);
    const std::size_t rowBytes = static_cast<std::size_t>(4) * width;
    const int band = static_cast<int>(std::clamp<std::size_t>(kBandBytes / rowBytes, 4, 256));

    // Row k of the ring holds the picture's row top + k; the ring row before the band's first row
    // holds the row above it.
    BgrxImage ring(width, band + 2);
    std::vector<std::uint8_t*> rowsInRing(band + 2);
    for (int k = 0; k < band + 2; ++k) {
        rowsInRing[k] = ring.row(k);
    }
    GreyImage grey(width, band + 1);
    sink.begin(width, height);
    int top = -1;
    int filled =
        1;         // ring row 0 stands for the row above the picture, which the filter never reads
    int next = 0;  // the first row of the result not yet written
    while (next < height) {
        while (filled < band + 2 && decoder.rowsRead() < height) {
            filled += decoder.readRows(rowsInRing.data() + filled, band + 2 - filled);
        }
        // A row can be written once the row below it is in, or when it is the last.
        const int last = decoder.rowsRead() == height ? top + filled - 1 : top + filled - 2;
        ApplyBlackWhiteFilterRows(ring.row(next - top), ring.stride(), width, height, next,
                                  last - next + 1, thresholds, grey.data(), grey.stride());
        sink.take(grey.data(), grey.stride(), last - next + 1);
        next = last + 1;
        if (next < height) {
            std::memcpy(ring.row(0), ring.row(last - top), rowBytes);
            std::memcpy(ring.row(1), ring.row(last + 1 - top), rowBytes);
            top = last;
            filled = 2;
        }
    }
}

}  // namespace

bool FilterJpegWhileDecoding(const PictureContent& content, const QString& path,
                             FilterThresholds thresholds, GreyRowSink& sink) {
    if (!content.probe.servesBands()) {
        return false;
    }
    DecodeJpeg(content.bytes.data(), content.bytes.size(), path,
               [&](JpegDecoder& decoder) { filterBands(decoder, path, thresholds, sink); });
    return true;
}

bool FilterJpegWhileDecoding(std::span<const std::uint8_t> bytes, const QString& path,
                             FilterThresholds thresholds, GreyRowSink& sink) {
    if (PictureTypeOf(bytes) != PictureType::Jpeg) {
        return false;
    }
    return FilterJpegWhileDecoding(CheckPicture(PictureBytes(bytes), path), path, thresholds, sink);
}
