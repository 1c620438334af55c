#include "formats/FormatSamples.h"
#include "formats/samples/SampleStructure.h"
#include "support/CameraPictures.h"
#include "support/HeifGrids.h"
#include "support/TestPictures.h"

// HEIF: HEIC (x265) at 8 and 10 bits and AVIF (libheif's AOM encoder at 8 bits, avifenc at 10
// and 12), turned and mirrored, cropped, with alpha, and grids: of HEVC tiles laid out here, and
// avifenc's own; one grid's output short of what its tiles cover, as a phone's edge tiles are.
std::vector<ContractSample> HeifSamples() {
    HeifGrid heicGrid;
    heicGrid.width = 120;
    heicGrid.height = 100;
    heicGrid.cropWidth = 100;
    heicGrid.cropHeight = 90;
    HeifGrid deepGrid;
    deepGrid.columns = 3;
    deepGrid.rows = 1;
    deepGrid.width = 180;
    deepGrid.bits = 10;
    std::vector<ContractSample> samples{
        {"HEIC, 64 x 48", HeifBytesOf(SamplePicture(64, 48), false)},
        {"HEIC 10-bit, 75 x 51 (odd: a 1 x 1 grid crops the coded picture)",
         HeifBytesOf(SamplePicture(75, 51, 1), false, 10)},
        {"HEIC turned and mirrored (irot, imir), 56 x 40",
         HeifBytesOf(SamplePicture(56, 40, 2), false, 8, 7)},
        {"HEIC with alpha, 48 x 32",
         HeifWithAlphaBytesOf(
             SamplePicture(48, 32, 3), [](int x, int y) { return quint8((x * 5 + y * 3) & 0xFF); },
             false)},
        {"HEIC grid 2 x 2 of 64 x 64 showing 120 x 100, cropped (clap) to 100 x 90",
         HeifGridBytesOf(SamplePicture(128, 128, 4), heicGrid)},
        {"HEIC 10-bit grid 3 x 1 of 64 x 64 showing 180 x 64",
         HeifGridBytesOf(SamplePicture(192, 64, 5), deepGrid)},
        {"AVIF, 64 x 48", HeifBytesOf(SamplePicture(64, 48, 6), true)},
        {"AVIF 10-bit turned (irot), 64 x 40", AvifencBytesOf(SamplePicture(64, 40, 7), 10, 6)},
        {"AVIF 12-bit cropped (clap) to 60 x 50 of 80 x 64",
         AvifencBytesOf(SamplePicture(80, 64, 8), 12, 1, {"--crop", "8,6,60,50"})},
        {"AVIF mirrored (imir), 48 x 40",
         AvifencBytesOf(SamplePicture(48, 40, 9), 8, 1, {"--imir", "1"})},
        {"AVIF with alpha, 40 x 40",
         HeifWithAlphaBytesOf(
             SamplePicture(40, 40, 10), [](int x, int y) { return quint8((x * y) & 0xFF); }, true)},
        {"AVIF grid 2 x 2 (avifenc), 128 x 128",
         AvifencBytesOf(SamplePicture(128, 128, 11), 8, 1, {"--grid", "2x2"})},
    };
    for (ContractSample& s : samples) {
        AddHeifStructure(s);
    }
    return samples;
}

// Grids whose tiles cover far more than they show, all from one small tile: 32 x 32 tiles of
// 256 x 256 cropped by clap to 64 x 64, in HEVC and AV1, turned after the crop and before it
// (into a copy of all the tiles make); the same whose ispe states
// 64 x 64; and grids of the most tiles decoded, where each tile's own start weighs beside its
// pixels, and of more.
std::vector<CostlySample> HeifCostlySamples() {
    HeifGrid cropped;
    cropped.columns = cropped.rows = 32;
    cropped.tileWidth = cropped.tileHeight = 256;
    cropped.oneTile = true;
    cropped.cropWidth = cropped.cropHeight = 64;
    HeifGrid croppedAvif = cropped;
    croppedAvif.avif = true;
    HeifGrid turned = cropped;
    turned.turns = 1;
    HeifGrid turnedFirst = turned;
    turnedFirst.turnFirst = true;
    HeifGrid lying = cropped;
    lying.cropWidth = lying.cropHeight = 0;
    lying.statedWidth = lying.statedHeight = 64;
    HeifGrid most;
    most.columns = 54;
    most.rows = 37;
    most.oneTile = true;
    HeifGrid tinyAvif = most;
    tinyAvif.avif = true;
    tinyAvif.tileWidth = tinyAvif.tileHeight = 8;
    HeifGrid more = most;
    more.columns = more.rows = 128;
    const BgrxImage tile = SamplePicture(256, 256, 12);
    // As a photograph's: smooth, with an edge.
    const BgrxImage smooth = MakePicture(256, 256, [](int x, int y) {
        return quint32(x) << 16 | quint32(y) << 8 | (x + y > 200 ? 0xC0u : 0x40u);
    });
    const BgrxImage flat = MakePicture(256, 256, [](int, int) { return 0x808080u; });
    return {
        {"HEIC grid 32 x 32 of 256 x 256 cropped to 64 x 64", HeifGridBytesOf(smooth, cropped)},
        {"AVIF grid 32 x 32 of 256 x 256 cropped to 64 x 64", HeifGridBytesOf(smooth, croppedAvif)},
        {"HEIC grid 32 x 32 of 256 x 256 (flat) cropped to 64 x 64 and turned",
         HeifGridBytesOf(flat, turned)},
        {"HEIC grid 32 x 32 of 256 x 256 (flat) turned, then cropped to 64 x 64",
         HeifGridBytesOf(flat, turnedFirst)},
        {"HEIC grid 32 x 32 of 256 x 256 whose ispe states 64 x 64",
         HeifGridBytesOf(smooth, lying)},
        {"HEIC grid 54 x 37 of 64 x 64", HeifGridBytesOf(tile, most)},
        {"AVIF grid 54 x 37 of 8 x 8", HeifGridBytesOf(tile, tinyAvif)},
        {"HEIC grid 128 x 128 of 64 x 64", HeifGridBytesOf(tile, more)},
    };
}
