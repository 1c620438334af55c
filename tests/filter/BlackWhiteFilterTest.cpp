#include "filter/BlackWhiteFilter.h"
#include "filter/FilterKernels.h"
#include "filter/ReferenceFilter.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>

namespace {

// The result in the 4-byte layout: blue = green = red = the grey level, the fourth byte 0.
BgrxImage GreyToBgrx(const GreyImage& grey) {
    BgrxImage out(grey.width(), grey.height());
    for (int y = 0; y < grey.height(); ++y) {
        const std::uint8_t* g = grey.row(y);
        std::uint8_t* o = out.row(y);
        for (int x = 0; x < grey.width(); ++x) {
            o[4 * x] = o[4 * x + 1] = o[4 * x + 2] = g[x];
            o[4 * x + 3] = 0;
        }
    }
    return out;
}

// A test picture with a row stride of its own, so that padding between rows must be ignored.
struct Picture {
    int width, height;
    std::ptrdiff_t stride;
    std::vector<std::uint8_t> bytes;

    Picture(int w, int h, int padding = 0)
        : width(w), height(h), stride(4 * w + padding), bytes(stride * h + 1, 0xEE) {}
    std::uint8_t* px(int x, int y) { return &bytes[stride * y + 4 * x]; }
    void set(int x, int y, int b, int g, int r, int unused = 0x5A) {
        std::uint8_t* p = px(x, y);
        p[0] = b, p[1] = g, p[2] = r, p[3] = unused;
    }
    void fill(int b, int g, int r) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) set(x, y, b, g, r);
    }
};

// Smooth shapes plus noise of a chosen strength, so that every band occurs; the fourth byte and
// the row padding are random too.
Picture randomPicture(int w, int h, int padding, std::mt19937& rng) {
    Picture p(w, h, padding);
    std::uniform_int_distribution<int> byte(0, 255);
    const int noise = std::array{0, 3, 12, 40, 90, 255}[rng() % 6];
    const double fx = (rng() % 50) / 40.0, fy = (rng() % 50) / 40.0;
    for (auto& b : p.bytes) b = static_cast<std::uint8_t>(byte(rng));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int k = 0; k < 3; ++k) {
                const double base = 127.5 + 127.5 * std::sin(fx * x + fy * y + 2.0 * k);
                const int n =
                    noise == 0 ? 0 : std::uniform_int_distribution<int>(-noise, noise)(rng);
                p.px(x, y)[k] = static_cast<std::uint8_t>(std::clamp(int(base) + n, 0, 255));
            }
        }
    }
    return p;
}

// The result in the 4-byte layout, through one kernel.
std::vector<std::uint8_t> run4(const FilterKernel& kernel, Picture& p, FilterThresholds t) {
    GreyImage grey(p.width, p.height);
    ApplyBlackWhiteFilter(kernel, p.bytes.data(), p.stride, p.width, p.height, t, grey.data(),
                          grey.stride());
    const BgrxImage out = GreyToBgrx(grey);
    return {out.data(), out.data() + out.byteCount()};
}

// Through the default path, after checking that every kernel agrees with it.
std::vector<std::uint8_t> fast4(Picture& p, FilterThresholds t) {
    GreyImage grey(p.width, p.height);
    ApplyBlackWhiteFilter(p.bytes.data(), p.stride, p.width, p.height, t, grey.data(),
                          grey.stride());
    const BgrxImage bgrx = GreyToBgrx(grey);
    std::vector<std::uint8_t> out(bgrx.data(), bgrx.data() + bgrx.byteCount());
    for (const FilterKernel& k : AvailableFilterKernels()) {
        EXPECT_EQ(run4(k, p, t), out) << k.name;
    }
    return out;
}

// The first differing pixel, for a readable failure.
std::string firstDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b,
                            int width) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] != b[i]) {
            const std::size_t pixel = i / 4;
            return "pixel (" + std::to_string(pixel % width) + ", " +
                   std::to_string(pixel / width) + ") byte " + std::to_string(i % 4) + ": " +
                   std::to_string(a[i]) + " vs " + std::to_string(b[i]);
        }
    }
    return a.size() == b.size() ? "none" : "sizes differ";
}

const FilterThresholds kCorners[] = {
    {60, 180, 50}, {0, 70, 10},  {0, 70, 70},        {0, 200, 10},  {0, 200, 70},
    {80, 70, 10},  {80, 70, 70}, {80, 200, 10},      {80, 200, 70}, {256, 180, 50},
    {-5, 250, 0},  {30, 40, 90}, {0, -32768, 32767}, {32767, 0, 0},
};

// Every kernel the build has is compared with the reference below where the processor runs it,
// and named where it does not; the build must have SIMD kernels where the SIMD library has them.
TEST(BlackWhiteFilter, EveryCompiledKernelIsComparedOrNamedAsNotRunHere) {
    const std::vector<FilterKernel> compiled = CompiledFilterKernels();
    ASSERT_FALSE(compiled.empty());
    EXPECT_EQ(compiled.front().name, "scalar");
    EXPECT_TRUE(compiled.front().runs);
#if defined(__x86_64__)
    const char* expected[] = {"SSSE3", "SSE4", "AVX2", "AVX3"};
#elif defined(__aarch64__)
    const char* expected[] = {"NEON"};
#else
    const char* expected[] = {"scalar"};
#endif
    for (const char* name : expected) {
        EXPECT_TRUE(std::any_of(compiled.begin(), compiled.end(), [&](const FilterKernel& k) {
            return k.name == name;
        })) << name;
    }
    for (const FilterKernel& k : compiled) {
        std::printf("filter kernel %-8s %s\n", k.name.c_str(),
                    k.runs ? "compared with the reference"
                           : "NOT RUN HERE: this processor lacks its instructions");
    }
    EXPECT_EQ(AvailableFilterKernels().size(),
              static_cast<std::size_t>(std::count_if(
                  compiled.begin(), compiled.end(), [](const FilterKernel& k) { return k.runs; })));
}

// The filter asks the processor for its targets itself, without the SIMD library's code: the
// answer must be the library's own for every target the build has.
TEST(BlackWhiteFilter, TheTargetsThatRunAreThoseTheSimdLibraryFinds) {
    const std::int64_t supported = hwy::SupportedTargets();
    for (const filter_detail::TargetKernel& k : filter_detail::HighwayKernels()) {
        EXPECT_EQ(k.runs, (supported & k.target) != 0) << k.name;
    }
}

// The filter uses the kernel the SIMD library itself would choose: its lowest bit among the
// targets built here that this processor runs (on ARM, a fixed-width SVE kernel before SVE2).
TEST(BlackWhiteFilter, UsesTheKernelTheSimdLibraryWouldChoose) {
    std::int64_t runnable = 0;
    for (const filter_detail::TargetKernel& k : filter_detail::HighwayKernels()) {
        runnable |= k.target;
    }
    runnable &= hwy::SupportedTargets();
    const std::string expected = runnable == 0 ? "scalar" : hwy::TargetName(runnable & -runnable);
    EXPECT_EQ(AvailableFilterKernels().back().name, expected);
}

TEST(BlackWhiteFilter, EqualsTheReferenceOnRandomPicturesOfManySizes) {
    std::mt19937 rng(20261208);
    std::vector<std::pair<int, int>> sizes;
    // Widths just around the 16- and 32-pixel steps of the kernels (plus the frame of 2).
    for (int w : {1,  2,  3,  4,  5,  8,  15, 16, 17, 18, 19, 20, 31,
                  33, 34, 35, 36, 49, 50, 51, 65, 66, 67, 97, 98, 99})
        for (int h : {1, 2, 3, 4, 7}) sizes.emplace_back(w, h);
    for (int i = 0; i < 40; ++i) sizes.emplace_back(1 + rng() % 300, 1 + rng() % 60);
    int compared = 0;
    for (auto [w, h] : sizes) {
        for (const FilterThresholds& t : kCorners) {
            Picture p = randomPicture(w, h, static_cast<int>(rng() % 3) * 4, rng);
            const auto expected = ReferenceFilter(p.bytes.data(), p.stride, w, h, t);
            for (const FilterKernel& k : AvailableFilterKernels()) {
                const auto got = run4(k, p, t);
                ASSERT_EQ(got, expected)
                    << k.name << " " << w << " x " << h << " B" << t.black << " G" << t.gradient
                    << " Y" << t.gray << ": " << firstDifference(got, expected, w);
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 3000);
}

TEST(BlackWhiteFilter, EqualsTheReferenceAtTheSizeLimits) {
    std::mt19937 rng(8192);
    for (auto [w, h] : {std::pair{8192, 3}, std::pair{3, 8193}, std::pair{8192, 4}}) {
        Picture p = randomPicture(w, h, 0, rng);
        const FilterThresholds t{40, 120, 30};
        EXPECT_EQ(fast4(p, t), ReferenceFilter(p.bytes.data(), p.stride, w, h, t)) << w << "x" << h;
    }
}

TEST(BlackWhiteFilter, RefusesPicturesOverTheLimitsBeforeWritingAnything) {
    for (auto [w, h] : {std::pair{8193, 3}, std::pair{3, 8194}, std::pair{9000, 9000}}) {
        Picture p(w, h);
        std::vector<std::uint8_t> grey(static_cast<std::size_t>(w) * h, 0x77);
        try {
            ApplyBlackWhiteFilter(p.bytes.data(), p.stride, w, h, {}, grey.data(), w);
            FAIL() << w << " x " << h << " was filtered";
        } catch (const std::overflow_error&) {
        }
        EXPECT_TRUE(std::all_of(grey.begin(), grey.end(), [](auto b) { return b == 0x77; }));
    }
}

// Interior value of a uniform-colour picture and of pictures built to give one edge strength.
int centre(Picture& p, FilterThresholds t) {
    const auto out = fast4(p, t);
    return out[4 * (p.width * (p.height / 2) + p.width / 2)];
}

TEST(BlackWhiteFilter, UniformPicturesAndTheBlackThreshold) {
    const struct {
        int b, g, r;
        FilterThresholds t;
        int interior;
    } cases[] = {
        {30, 30, 30, {60, 180, 50}, 30},    // darker than B keeps its grey
        {200, 10, 40, {60, 180, 50}, 255},  // m = 83 is not below B: flat, so white
        {0, 0, 0, {0, 180, 50}, 255},       // black with B = 0: m = 0 is not below 0
        {0, 0, 0, {1, 180, 50}, 0},
        {60, 60, 60, {60, 180, 50}, 255},  // m = B takes the edge path
        {59, 60, 60, {60, 180, 50}, 255},  // (179 + 1) / 3 = 60 = B
        {59, 59, 60, {60, 180, 50}, 59},   // (178 + 1) / 3 = 59 < B
    };
    for (const auto& c : cases) {
        Picture p(40, 5);
        p.fill(c.b, c.g, c.r);
        EXPECT_EQ(centre(p, c.t), c.interior) << c.b << "," << c.g << "," << c.r;
        const auto out = fast4(p, c.t);
        for (int x = 0; x < 40; ++x) EXPECT_EQ(out[4 * x], 0);  // the frame
    }
}

TEST(BlackWhiteFilter, TinyPicturesAreAllBlack) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{2, 2}, std::pair{1, 50}, std::pair{50, 2}}) {
        Picture p(w, h);
        p.fill(200, 200, 200);
        const auto out = fast4(p, {});
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](auto b) { return b == 0; }));
    }
}

// A white picture three rows high whose interior pixel i + 1 has edge strength strengths[i]
// (0..255): its neighbour above is darker by that much in every colour, so D = 3e.
Picture edgeRow(const std::vector<int>& strengths) {
    Picture p(static_cast<int>(strengths.size()) + 2, 3);
    p.fill(255, 255, 255);
    for (std::size_t i = 0; i < strengths.size(); ++i) {
        const int dark = 255 - strengths[i];
        p.set(static_cast<int>(i) + 1, 0, dark, dark, dark);
    }
    return p;
}

TEST(BlackWhiteFilter, BandsGiveTheirValuesForEveryEdgeStrength) {
    // With B = 0, G = 250 and Y = 0 every e from 1 to 250 lies in the grey band (w = 5..254),
    // and with G = 0 in the near-black band: both formulas checked for every w.
    std::vector<int> strengths;
    for (int e = 0; e <= 255; ++e) strengths.push_back(e);
    Picture p = edgeRow(strengths);
    const auto grey = fast4(p, {0, 250, 0});
    const auto nearBlack = fast4(p, {0, -1, -2});
    for (int e = 0; e <= 255; ++e) {
        const int w = 255 - e;
        const std::size_t at = 4 * (static_cast<std::size_t>(p.width) + e + 1);
        const int expectedGrey = e > 250 ? 0 : e > 0 ? int(std::nearbyint(w * 0.7)) : 255;
        EXPECT_EQ(grey[at], expectedGrey) << "e " << e;
        const int expectedNear = e > 250 ? 0 : int(std::nearbyint(w / 8.0));
        EXPECT_EQ(nearBlack[at], expectedNear) << "e " << e;
    }
}

TEST(BlackWhiteFilter, TheListedValuesOfTheGreyAndNearBlackBands) {
    const std::pair<int, int> grey[] = {
        {5, 4},     {15, 10},   {25, 18},   {35, 24},   {45, 31},   {55, 38},   {65, 46},
        {75, 52},   {85, 59},   {95, 66},   {105, 74},  {115, 80},  {125, 88},  {135, 94},
        {145, 102}, {155, 108}, {165, 115}, {175, 122}, {185, 130}, {195, 136}, {205, 144},
        {215, 150}, {225, 158}, {235, 164}, {245, 172},
    };
    const std::pair<int, int> nearBlack[] = {{12, 2}, {20, 2}, {28, 4}, {5, 1}};
    std::vector<int> strengths;
    for (auto [w, v] : grey) strengths.push_back(255 - w);
    for (auto [w, v] : nearBlack) strengths.push_back(255 - w);
    while (strengths.size() < 40) strengths.push_back(0);  // long enough for the fast path
    Picture p = edgeRow(strengths);
    const auto outGrey = fast4(p, {0, 250, 0});
    const auto outNear = fast4(p, {0, -1, -2});
    int i = 0;
    for (auto [w, v] : grey) EXPECT_EQ(outGrey[4 * (p.width + ++i)], v) << "w " << w;
    for (auto [w, v] : nearBlack) EXPECT_EQ(outNear[4 * (p.width + ++i)], v) << "w " << w;
}

TEST(BlackWhiteFilter, EdgeStrength250IsNearBlackAnd251IsBlack) {
    Picture p = edgeRow(std::vector<int>(20, 250));
    p.set(5, 0, 4, 4, 4);  // e = 251 at x = 5
    const auto out = fast4(p, {60, 180, 50});
    EXPECT_EQ(out[4 * (p.width + 4)], 1);  // (255 - 250) / 8 = 0.625
    EXPECT_EQ(out[4 * (p.width + 5)], 0);
}

TEST(BlackWhiteFilter, ResultHasEqualColoursAndAZeroFourthByte) {
    std::mt19937 rng(7);
    Picture p = randomPicture(70, 20, 8, rng);
    const auto out = fast4(p, {});
    for (std::size_t i = 0; i < out.size(); i += 4) {
        ASSERT_EQ(out[i], out[i + 1]);
        ASSERT_EQ(out[i], out[i + 2]);
        ASSERT_EQ(out[i + 3], 0);
    }
}

}  // namespace
