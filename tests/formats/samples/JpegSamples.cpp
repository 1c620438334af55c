#include "formats/FormatSamples.h"
#include "formats/samples/SampleStructure.h"
#include "support/TestPictures.h"

namespace {

QByteArray libjpegBytes(const BgrxImage& picture, JpegCoding coding) {
    return LibjpegBytesOf(
        picture.width(), picture.height(), [&](int x, int y) { return ColourAt(picture, x, y); },
        coding);
}

// Every component refined bit by bit over the whole band: many scans.
std::vector<JpegScan> everyBit(int components) {
    std::vector<JpegScan> script{{components, {0, 1, 2, 3}, 0, 0, 0, 0}};
    for (int c = 0; c < components; ++c) {
        script.push_back({1, {c}, 1, 63, 0, 4});
        for (int al = 3; al >= 0; --al) {
            script.push_back({1, {c}, 1, 63, al + 1, al});
        }
    }
    return script;
}

}  // namespace

// JPEG: baseline and progressive, grey and CMYK, turned by its Exif, with restart markers, many
// scans, arithmetic coding, at sizes that are and are not whole blocks.
std::vector<ContractSample> JpegSamples() {
    std::vector<ContractSample> samples{
        {"baseline, 64 x 48", JpegBytesOf(SamplePicture(64, 48), 90)},
        {"baseline turned by Exif, 203 x 157", JpegBytesOf(SamplePicture(203, 157, 1), 85, 6)},
        {"progressive, 150 x 101", ProgressiveJpegBytesOf(SamplePicture(150, 101, 2), 90)},
        {"CMYK with restarts, 40 x 24",
         libjpegBytes(SamplePicture(40, 24, 3), {4, false, false, {}, 1})},
        {"grey, a scan for each bit, 96 x 64",
         libjpegBytes(SamplePicture(96, 64, 4), {1, false, true, everyBit(1)})},
        {"arithmetic-coded refinements, 48 x 40",
         libjpegBytes(SamplePicture(48, 40, 5), {3, true, true, everyBit(3)})},
    };
    for (ContractSample& s : samples) {
        AddJpegStructure(s);
    }
    // An arithmetic-coded scan may end before its last block by design (the rest reads as
    // zeros): a frame that states more rows or columns than the data holds is a valid file.
    for (FieldEdit& field : samples.back().fields) {
        if (field.what == "frame height" || field.what == "frame width") {
            field.staysValid = "an arithmetic-coded scan may stop early; the rest is zeros";
        }
    }
    return samples;
}

std::vector<CostlySample> JpegCostlySamples() {
    return {{"flat grey 8192 x 8192 in one arithmetic scan", ArithmeticJpegBytes(8192, 8192)},
            {"694 scans, 1024 x 1024", ManyScanJpegBytes(1024, 1024, 694)},
            {"refined bit by bit, 2048 x 2048", RefiningJpegBytes(2048, 2048)}};
}
