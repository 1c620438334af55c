#include "engine/PictureProbe.h"

#include <turbojpeg.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

// The samples a pixel that the cost of decoding follows, from the header's sampling factors.
TEST(PictureProbe, SamplesAPixelFollowTheColourSampling) {
    const struct {
        int sampling;
        double samples;
    } cases[] = {{TJSAMP_444, 3},  {TJSAMP_422, 2},   {TJSAMP_420, 1.5},
                 {TJSAMP_GRAY, 1}, {TJSAMP_411, 1.5}, {TJSAMP_440, 2}};
    const int width = 64, height = 48;
    const std::vector<unsigned char> pixels(width * height * 3, 128);
    tjhandle encoder = tjInitCompress();
    for (const auto& c : cases) {
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        ASSERT_EQ(tjCompress2(encoder, pixels.data(), width, 0, height, TJPF_RGB, &jpeg, &size,
                              c.sampling, 90, 0),
                  0);
        const PictureProbe probe = ProbePicture({jpeg, size});
        EXPECT_EQ(probe.samplesPerPixel, c.samples) << "sampling " << c.sampling;
        tjFree(jpeg);
    }
    tjDestroy(encoder);
}

}  // namespace
