#include "engine/PictureLoader.h"
#include "engine/formats/PictureProbe.h"

#include <turbojpeg.h>

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
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

using Bytes = std::vector<std::uint8_t>;

Bytes seed(const char* name) {
    std::ifstream in(std::filesystem::path(TONVALER_FUZZ_SEEDS) / name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Bytes that end where readable memory ends: a read past them faults, in every build.
class GuardedBytes {
  public:
    explicit GuardedBytes(std::span<const std::uint8_t> bytes)
        : page_(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE))),
          size_((bytes.size() + page_ - 1) / page_ * page_ + page_),
          base_(static_cast<std::uint8_t*>(
              ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0))),
          data_(base_ + size_ - page_ - bytes.size()),
          count_(bytes.size()) {
        ::mprotect(base_ + size_ - page_, page_, PROT_NONE);
        if (!bytes.empty()) {
            std::memcpy(data_, bytes.data(), bytes.size());
        }
    }
    ~GuardedBytes() { ::munmap(base_, size_); }
    std::span<const std::uint8_t> span() const { return {data_, count_}; }

  private:
    std::size_t page_, size_;
    std::uint8_t* base_;
    std::uint8_t* data_;
    std::size_t count_;
};

// Every start of every seed, and of a WebP whose extended header ends the file, is read within
// its bytes.
TEST(PictureProbe, NoHeaderIsReadPastTheEndOfTheFile) {
    std::vector<Bytes> files;
    for (const auto& entry : std::filesystem::directory_iterator(TONVALER_FUZZ_SEEDS)) {
        files.push_back(seed(entry.path().filename().c_str()));
    }
    ASSERT_GT(files.size(), 20u);
    Bytes webp = {'R', 'I', 'F', 'F', 22,  0,   0,  0, 'W', 'E',
                  'B', 'P', 'V', 'P', '8', 'X', 10, 0, 0,   0};
    webp.resize(30, 0x7F);
    files.push_back(webp);
    for (const Bytes& file : files) {
        for (std::size_t n = 0; n <= std::min<std::size_t>(file.size(), 2048); ++n) {
            const GuardedBytes bytes({file.data(), n});
            ProbePicture(bytes.span());
        }
    }
}

// A marker segment whose length is 0 or 1 is read as the decoder reads it: as empty. The Exif
// block after it still turns the picture, and the size checks and the budget see its size.
TEST(PictureProbe, ShortSegmentLengthsAreReadAsTheDecoderReadsThem) {
    const Bytes turned = seed("colour-exif6.jpg");
    const PictureProbe plain = ProbePicture(turned);
    ASSERT_EQ(plain.orientation, 6);
    const BgrxImage upright = DecodePicture(turned, "colour-exif6.jpg");
    for (const std::uint8_t length : {0, 1}) {
        Bytes file = turned;
        const std::uint8_t comment[] = {0xFF, 0xFE, 0, length};
        file.insert(file.begin() + 2, std::begin(comment), std::end(comment));
        const PictureProbe probe = ProbePicture(file);
        EXPECT_EQ(probe.orientation, 6) << "length " << int(length);
        EXPECT_EQ(probe.width, plain.width) << "length " << int(length);
        EXPECT_EQ(probe.workingBytes(), plain.workingBytes()) << "length " << int(length);
        const BgrxImage picture = DecodePicture(file, "short segment");
        EXPECT_EQ(picture.width(), upright.width()) << "length " << int(length);
        EXPECT_EQ(picture.height(), upright.height()) << "length " << int(length);
    }
}

Bytes hex(const char* text) {
    Bytes b;
    for (const char* c = text; c[0] && c[1]; c += 2) {
        b.push_back(static_cast<std::uint8_t>(std::stoi(std::string(c, 2), nullptr, 16)));
    }
    return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The size the budget is charged for is the size the decoder will make, read wherever the
// file keeps it; a size no header states is charged as the largest picture.
TEST(PictureProbe, TheSizeChargedIsTheSizeDecoded) {
    const Bytes png8192 =
        hex("89504e470d0a1a0a0000000d49484452000020000000200008020000000000000000");
    const Bytes largest = Bytes(16, 0x5A);
    const struct {
        const char* what;
        Bytes bytes;
        long long width, height;
        bool multiScan;
    } cases[] = {
        {"an icon whose directory says 256 or more over a big PNG",
         hex("00000100010000000000010020002200000016000000") + png8192, 8192, 8192, false},
        {"a GIF with a screen of 0 x 0",
         hex("47494638396100000000000000") + hex("2c00000000d007d007000802000000"), 2000, 2000,
         false},
        {"a TIFF with its size in signed shorts",
         hex("49492a000800000002000001080001000000b80b0000010108000100000064000000"), 3000, 100,
         false},
        {"a PNG with a chunk before its header",
         hex("89504e470d0a1a0a00000004744558746162636400000000") +
             hex("0000000d49484452000003e80000032008020000000000000000"),
         1000, 800, false},
        {"a JPEG of one scan a component",
         hex("ffd8ffc0001108012c019003011100021101031101ffda0008010100003f00"), 400, 300, true},
    };
    for (const auto& c : cases) {
        const PictureProbe probe = ProbePicture(c.bytes);
        EXPECT_EQ(probe.width, c.width) << c.what;
        EXPECT_EQ(probe.height, c.height) << c.what;
        EXPECT_EQ(probe.multiScan, c.multiScan) << c.what;
    }
    const PictureProbe unknown = ProbePicture(largest);
    PictureProbe biggest;
    biggest.width = 8192;
    biggest.height = 8193;
    EXPECT_EQ(unknown.workingBytes(), biggest.workingBytes());
    PictureProbe interleaved = ProbePicture(cases[4].bytes);
    interleaved.multiScan = false;
    EXPECT_GT(ProbePicture(cases[4].bytes).workingBytes(), interleaved.workingBytes() * 2);
}

}  // namespace

namespace {

// An X bitmap's size is read line by line as Qt's reader reads it: the first line that begins
// with '#' gives the width and the next line the height, whatever they are named; the size
// stated is the size decoded, and a size the reader refuses is not stated.
TEST(PictureProbe, AnXBitmapsSizeIsReadAsItsReaderReadsIt) {
    const std::string bits = "\nstatic char b[] = { 0xff, 0xff, 0xff, 0xff, 0xff, 0xff };\n";
    const struct {
        std::string header;
        long long width, height;
    } cases[] = {
        {"#define a_width 16\n#define a_height 3", 16, 3},
        {"#define a_height 3\n#define a_width 16", 3, 16},
        {"#define x 16\n#define y 3", 16, 3},
        {"#define w 8192\n#define a_width 8192\n#define a_height 8e_height 6385", 8192, 8192},
        {"#define a_width 16\n#define b 2\n#define a_height 3", 16, 2},
        {"#define\ta_width\t+16 \n#define a_height 3\r", 16, 3},
        {"#definea_width 16\n#define a_height 3", 16, 3},
        {"#define a_width 16\n#define a_height 3x", 0, 0},
        {"#define a_width 0x10\n#define a_height 3", 0, 0},
        {"#define a-width 16\n#define a_height 3", 0, 0},
        {"#define a_width 16\n\n#define a_height 3", 0, 0},
        {"#define a_width 40000\n#define a_height 3", 0, 0},
    };
    for (const auto& c : cases) {
        const std::string text = c.header + bits;
        const PictureProbe probe =
            ProbePicture({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
        EXPECT_EQ(probe.type, PictureType::Xbm) << text;
        EXPECT_EQ(probe.width, c.width) << text;
        EXPECT_EQ(probe.height, c.height) << text;
    }
}

}  // namespace
