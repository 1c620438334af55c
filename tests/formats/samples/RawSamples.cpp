#include "formats/FormatSamples.h"
#include "formats/samples/SampleStructure.h"
#include "formats/samples/TiffStructure.h"
#include "support/DngPictures.h"
#include "support/LosslessJpeg.h"

// Camera raw files: DNGs of every way the format stores its sensor data (plain 12 and 16 bits in
// one strip, in several and in tiles; lossless JPEG in tiles and in strips, of one component and
// of two; lossy JPEG of the colours), turned, in either byte order, in the first directory and
// below a preview.
std::vector<ContractSample> RawSamples() {
    const auto dng = [](int w, int h, int seed, DngLayout layout, int bits, int orientation = 1) {
        return DngBytesOf(SamplePicture(w, h, seed), layout, bits, orientation);
    };
    DngLayout plain12;
    plain12.bitsPerSample = 12;
    DngLayout plain16strips;
    plain16strips.strips = 5;
    DngLayout plain12stripsBig;
    plain12stripsBig.bitsPerSample = 12;
    plain12stripsBig.strips = 3;
    plain12stripsBig.bigEndian = true;
    DngLayout plainTiles;
    plainTiles.tile = 32;
    DngLayout plainPreview;
    plainPreview.preview = true;
    DngLayout jpegTiles;
    jpegTiles.losslessJpeg = true;
    jpegTiles.bitsPerSample = 12;
    jpegTiles.tile = 64;
    DngLayout jpegStrips;
    jpegStrips.losslessJpeg = true;
    jpegStrips.strips = 3;
    DngLayout jpegStrip;
    jpegStrip.losslessJpeg = true;
    jpegStrip.bitsPerSample = 12;
    jpegStrip.jpegComponents = 2;
    DngLayout jpegPreview;
    jpegPreview.losslessJpeg = true;
    jpegPreview.tile = 48;
    jpegPreview.jpegComponents = 2;
    jpegPreview.preview = true;
    jpegPreview.bigEndian = true;
    DngLayout lossyStrips;
    lossyStrips.lossyJpeg = true;
    lossyStrips.strips = 3;
    DngLayout lossyTiles;
    lossyTiles.lossyJpeg = true;
    lossyTiles.tile = 32;
    std::vector<ContractSample> samples{
        {"plain 16-bit, one strip, 64 x 48", dng(64, 48, 0, DngLayout{}, 12)},
        {"plain 12-bit, one strip, 70 x 46", dng(70, 46, 1, plain12, 12)},
        {"plain 16-bit, 5 strips, 90 x 61", dng(90, 61, 2, plain16strips, 16)},
        {"plain 12-bit, 3 strips, big-endian, 66 x 50", dng(66, 50, 3, plain12stripsBig, 12)},
        {"plain 16-bit, 32-pixel tiles, 100 x 70", dng(100, 70, 4, plainTiles, 14)},
        {"plain 16-bit below a preview, turned, 72 x 54", dng(72, 54, 5, plainPreview, 12, 6)},
        {"lossless JPEG 12-bit, 64-pixel tiles, 200 x 150", dng(200, 150, 6, jpegTiles, 12)},
        {"lossless JPEG 16-bit, 3 strips, 120 x 90", dng(120, 90, 7, jpegStrips, 16)},
        {"lossless JPEG 12-bit, one strip of two components, 80 x 60",
         dng(80, 60, 8, jpegStrip, 12, 8)},
        {"lossless JPEG 16-bit, 48-pixel tiles of two components below a preview, big-endian, "
         "150 x 100",
         dng(150, 100, 9, jpegPreview, 14, 3)},
        {"lossy JPEG of the colours, 3 strips, 120 x 80", dng(120, 80, 10, lossyStrips, 8)},
        {"lossy JPEG of the colours, 32-pixel tiles, 90 x 60", dng(90, 60, 11, lossyTiles, 8)},
    };
    for (ContractSample& s : samples) {
        AddTiffStructure(s);
    }
    return samples;
}

namespace {

// A lossless JPEG strip that states `height` rows of `width` but holds only eight.
QByteArray jpegStatingMore(int width, int height) {
    QByteArray jpeg = LosslessJpegBytes(std::vector<std::uint16_t>(std::size_t(width) * 8, 2048),
                                        width, 8, 1, 12);
    const qsizetype frame = jpeg.indexOf("\xFF\xC3");
    jpeg[frame + 5] = char(height >> 8);
    jpeg[frame + 6] = char(height & 0xFF);
    return jpeg;
}

// A lossless JPEG tile of flat grey whose Huffman tables are defined `tables` times over.
QByteArray jpegOfManyTables(int tile, int tables) {
    QByteArray jpeg = LosslessJpegBytes(std::vector<std::uint16_t>(std::size_t(tile) * tile, 2048),
                                        tile, tile, 1, 12);
    // Each a table of one code 16 bits long: the decoder makes 65536 entries for it.
    QByteArray one(17, '\0');
    one[16] = 1;
    one += '\0';
    for (int k = 0; k < tables; k += 3000) {
        QByteArray body;
        for (int i = k; i < std::min(tables, k + 3000); ++i) {
            body += char(i % 4) + one.mid(1);
        }
        const int length = int(body.size()) + 2;
        jpeg.insert(2, QByteArray("\xFF\xC4") + char(length >> 8) + char(length & 0xFF) + body);
    }
    return jpeg;
}

}  // namespace

std::vector<CostlySample> RawCostlySamples() {
    DngSensorData few{8192, 8192, 12, 7, 0, 8192, {jpegStatingMore(8192, 8192)}};
    DngSensorData sharedStrips{
        8192, 8192, 12, 7, 0, 8, {jpegStatingMore(8192, 8)}, std::vector<int>(1024, 0)};
    DngSensorData tables{64, 64, 12, 7, 0, 64, {jpegOfManyTables(64, 6000)}};
    return {{"8192 x 8192, 1024 tiles naming one", DngOfOneTileForAll(8192, 8192, 256)},
            {"8192 x 8192 lossless JPEG stated in 16 KB", DngFileOf(few, 12)},
            {"8192 x 8192, 1024 strips of lossless JPEG naming one", DngFileOf(sharedStrips, 12)},
            {"64 x 64 lossless JPEG defining 6000 Huffman tables", DngFileOf(tables, 12)},
            {"32 x 32 shown of a 4096 x 4096 sensor", DngShowingPartOfItsSensor(4096, 32, 512)}};
}
