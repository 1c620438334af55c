#include "formats/FormatSamples.h"
#include "formats/samples/SampleStructure.h"
#include "support/TestPictures.h"

#include <cstdio>  // jpeglib.h needs FILE
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace {

struct Coding {
    J_COLOR_SPACE space = JCS_RGB;  // of the samples given: RGB, CMYK or grey
    bool progressive = false;
    bool arithmetic = false;
    bool refineEveryBit = false;  // a scan for each coefficient bit: many scans
    int restartRows = 0;
};

// The picture through libjpeg with `coding`, 4:4:4.
QByteArray libjpegBytes(const BgrxImage& picture, Coding coding) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    const int components = coding.space == JCS_GRAYSCALE ? 1 : coding.space == JCS_CMYK ? 4 : 3;
    info.image_width = static_cast<JDIMENSION>(picture.width());
    info.image_height = static_cast<JDIMENSION>(picture.height());
    info.input_components = components;
    info.in_color_space = coding.space;
    jpeg_set_defaults(&info);
    for (int c = 0; c < info.num_components; ++c) {
        info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    }
    info.arith_code = coding.arithmetic;
    info.restart_in_rows = coding.restartRows;
    std::vector<jpeg_scan_info> script;
    if (coding.refineEveryBit) {
        std::vector<int> all;
        script.push_back({components, {0, 1, 2, 3}, 0, 0, 0, 0});
        for (int c = 0; c < components; ++c) {
            script.push_back({1, {c}, 1, 63, 0, 4});
            for (int al = 3; al >= 0; --al) {
                script.push_back({1, {c}, 1, 63, al + 1, al});
            }
        }
        info.scan_info = script.data();
        info.num_scans = static_cast<int>(script.size());
    } else if (coding.progressive) {
        jpeg_simple_progression(&info);
    }
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(picture.width()) * components);
    JSAMPROW rows[1] = {row.data()};
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const quint32 c = ColourAt(picture, x, y);
            const JSAMPLE rgb[3] = {JSAMPLE(c >> 16), JSAMPLE(c >> 8), JSAMPLE(c)};
            for (int k = 0; k < components; ++k) {
                row[std::size_t(x) * components + k] =
                    components == 1 ? rgb[1] : k < 3 ? rgb[k] : JSAMPLE(x * 3 + y);
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

}  // namespace

// JPEG: baseline and progressive, grey and CMYK, turned by its Exif, with restart markers, many
// scans, arithmetic coding, at sizes that are and are not whole blocks.
std::vector<ContractSample> JpegSamples() {
    std::vector<ContractSample> samples{
        {"baseline, 64 x 48", JpegBytesOf(SamplePicture(64, 48), 90)},
        {"baseline turned by Exif, 203 x 157", JpegBytesOf(SamplePicture(203, 157, 1), 85, 6)},
        {"progressive, 150 x 101", ProgressiveJpegBytesOf(SamplePicture(150, 101, 2), 90)},
        {"CMYK with restarts, 40 x 24",
         libjpegBytes(SamplePicture(40, 24, 3), {JCS_CMYK, false, false, false, 1})},
        {"grey, a scan for each bit, 96 x 64",
         libjpegBytes(SamplePicture(96, 64, 4), {JCS_GRAYSCALE, true, false, true})},
        {"arithmetic-coded refinements, 48 x 40",
         libjpegBytes(SamplePicture(48, 40, 5), {JCS_RGB, true, true, true})},
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
