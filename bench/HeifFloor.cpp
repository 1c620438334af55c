// The floor of a HEIC or AVIF conversion, beside which the whole conversion is timed
// (bench/heif-floor): in one process, with the file read once and the buffers reused, rounds of
// libheif's decode of the primary picture into planar RGB with libheif's own decoders (libde265
// for HEIC, dav1d for AVIF), those planes laid out as the filter takes them, the program's filter
// and its grey JPEG encode at quality 85. Prints each stage's median in ms and their sum.
//
//     heif_floor [--runs N] PICTURE
#include "engine/output/JpegWriter.h"
#include "filter/BlackWhiteFilter.h"

#include <libheif/heif.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 9;
    std::string picture;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            picture = a;
        }
    }
    std::ifstream in(picture, std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)), {});
    if (picture.empty() || file.empty()) {
        std::fprintf(stderr, "usage: heif_floor [--runs N] PICTURE\n");
        return 2;
    }
    std::vector<double> decode, layout, filter, encode;
    BgrxImage pixels;
    for (int run = 0; run < runs; ++run) {
        auto start = Clock::now();
        heif_context* context = heif_context_alloc();
        heif_image_handle* handle = nullptr;
        heif_image* image = nullptr;
        if (heif_context_read_from_memory_without_copy(context, file.data(), file.size(), nullptr)
                    .code != heif_error_Ok ||
            heif_context_get_primary_image_handle(context, &handle).code != heif_error_Ok ||
            heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_444, nullptr).code !=
                heif_error_Ok) {
            std::fprintf(stderr, "%s: cannot decode\n", picture.c_str());
            return 1;
        }
        decode.push_back(msSince(start));
        start = Clock::now();
        const int w = heif_image_get_width(image, heif_channel_R);
        const int h = heif_image_get_height(image, heif_channel_R);
        if (pixels.width() != w || pixels.height() != h) {
            pixels = BgrxImage(w, h);
        }
        int rs = 0, gs = 0, bs = 0;
        const std::uint8_t* r = heif_image_get_plane_readonly(image, heif_channel_R, &rs);
        const std::uint8_t* g = heif_image_get_plane_readonly(image, heif_channel_G, &gs);
        const std::uint8_t* b = heif_image_get_plane_readonly(image, heif_channel_B, &bs);
        for (int y = 0; y < h; ++y) {
            std::uint8_t* d = pixels.row(y);
            const std::ptrdiff_t ry = std::ptrdiff_t(y) * rs, gy = std::ptrdiff_t(y) * gs,
                                 by = std::ptrdiff_t(y) * bs;
            for (int x = 0; x < w; ++x, d += 4) {
                d[0] = b[by + x];
                d[1] = g[gy + x];
                d[2] = r[ry + x];
                d[3] = 0;
            }
        }
        heif_image_release(image);
        heif_image_handle_release(handle);
        heif_context_free(context);
        layout.push_back(msSince(start));
        start = Clock::now();
        const GreyImage grey = ApplyBlackWhiteFilter(pixels, FilterThresholds{});
        filter.push_back(msSince(start));
        start = Clock::now();
        const EncodedBytes jpeg = EncodeGreyJpeg(grey, 85);
        encode.push_back(msSince(start));
    }
    const double sum = median(decode) + median(layout) + median(filter) + median(encode);
    std::printf(
        "decode %.1f  layout %.1f  filter %.1f  encode %.1f  floor %.1f ms (medians of %d)\n",
        median(decode), median(layout), median(filter), median(encode), sum, runs);
    return 0;
}
