#include "formats/FormatSamples.h"
#include "formats/samples/SampleStructure.h"
#include "support/TestPictures.h"

// JPEG: baseline and progressive, full and halved colour, grey and CMYK, turned by its Exif,
// with restart markers, at sizes that are and are not whole blocks.
std::vector<ContractSample> JpegSamples() {
    std::vector<ContractSample> samples{
        {"baseline 4:4:4, 64 x 48", JpegBytesOf(SamplePicture(64, 48), 90)},
        {"baseline 4:4:4 turned by Exif, 203 x 157", JpegBytesOf(SamplePicture(203, 157, 1), 85, 6)},
        {"progressive, 150 x 101", ProgressiveJpegBytesOf(SamplePicture(150, 101, 2), 90)},
        {"CMYK, 40 x 24", CmykJpegBytes(40, 24, 10, 200, 30, 0)},
        {"many scans, 96 x 64", ManyScanJpegBytes(96, 64, 30)},
        {"arithmetic-coded refinements, 48 x 40", RefiningJpegBytes(48, 40)},
    };
    for (ContractSample& s : samples) {
        AddJpegStructure(s);
    }
    return samples;
}

std::vector<CostlySample> JpegCostlySamples() {
    return {{"flat grey 8192 x 8192 in one arithmetic scan", ArithmeticJpegBytes(8192, 8192)},
            {"694 scans, 1024 x 1024", ManyScanJpegBytes(1024, 1024, 694)}};
}
