// The sizes coded pictures' own headers state, read without decoding, for the layouts the
// encoders the other tests use never write: AV1 sequence headers in full (timing, a decoder
// model, several operating points), held to what libaom itself reads; HEVC parameter sets with
// sub-layers, a conformance window and bytes that keep start codes out.
#include "engine/formats/CodedPictureSize.h"

#include <aom/aom_decoder.h>
#include <aom/aomdx.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

struct BitWriter {
    std::vector<std::uint8_t> bytes;
    int count = 0;
    void put(std::uint64_t v, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (count % 8 == 0) {
                bytes.push_back(0);
            }
            if (i < 64 && (v >> i & 1) != 0) {  // zeros above a word's bits
                bytes.back() |= static_cast<std::uint8_t>(0x80 >> (count % 8));
            }
            ++count;
        }
    }
    void ue(std::uint32_t v) {
        int bits = 0;
        while ((std::uint64_t(v) + 1) >> (bits + 1) != 0) {
            ++bits;
        }
        put(0, bits);
        put(std::uint64_t(v) + 1, bits + 1);
    }
};

// An AV1 sequence header unit of 4608 x 2592, in full: with timing and a decoder model or
// without, two operating points each with its own delays.
std::vector<std::uint8_t> av1SequenceHeader(bool timing) {
    BitWriter s;
    s.put(0, 3);  // profile
    s.put(0, 2);  // not a still picture, not reduced
    s.put(timing, 1);
    const int delay = 10;
    if (timing) {
        s.put(1, 32);
        s.put(30, 32);
        s.put(1, 1);  // an equal interval, of 1 (uvlc 0)
        s.put(1, 1);
        s.put(1, 1);  // a decoder model
        s.put(delay - 1, 5);
        s.put(1, 32);
        s.put(4, 5);
        s.put(4, 5);
    }
    s.put(1, 1);  // initial display delays
    s.put(1, 5);  // two operating points
    for (int op = 0; op < 2; ++op) {
        s.put(op == 0 ? 0 : 0x101, 12);
        s.put(9, 5);  // a level above 7: a tier follows
        s.put(0, 1);
        if (timing) {
            s.put(1, 1);
            s.put(5, delay);
            s.put(6, delay);
            s.put(0, 1);
        }
        s.put(1, 1);
        s.put(3, 4);
    }
    s.put(12, 4);  // 13 bits of width, 12 of height
    s.put(11, 4);
    s.put(4607, 13);
    s.put(2591, 12);
    s.put(0, 40);  // what follows, and the trailing bits
    s.put(1, 1);
    s.put(0, 7);
    std::vector<std::uint8_t> unit{0x0A, std::uint8_t(s.bytes.size())};
    unit.insert(unit.end(), s.bytes.begin(), s.bytes.end());
    return unit;
}

TEST(CodedPictureSize, AFullAv1SequenceHeaderStatesWhatLibaomReads) {
    for (const bool timing : {false, true}) {
        SCOPED_TRACE(timing ? "with timing and a decoder model" : "without timing");
        const std::vector<std::uint8_t> unit = av1SequenceHeader(timing);
        aom_codec_stream_info_t info{};
        ASSERT_EQ(aom_codec_peek_stream_info(aom_codec_av1_dx(), unit.data(), unit.size(), &info),
                  AOM_CODEC_OK);
        const Av1Sequence read = Av1SequenceSize(unit);
        ASSERT_TRUE(read.fault.empty()) << read.fault;
        ASSERT_TRUE(read.size);
        EXPECT_EQ(read.size->width, info.w);
        EXPECT_EQ(read.size->height, info.h);
        EXPECT_EQ(info.w, 4608u);

        // A unit running past the data, and a second header stating another size, are faults.
        std::vector<std::uint8_t> cut(unit.begin(), unit.end() - 1);
        EXPECT_FALSE(Av1SequenceSize(cut).fault.empty());
        std::vector<std::uint8_t> two = unit;
        std::vector<std::uint8_t> other = unit;
        other[other.size() - 8] ^= 0x10;  // a bit of the height
        two.insert(two.end(), other.begin(), other.end());
        EXPECT_FALSE(Av1SequenceSize(two).fault.empty());
    }
}

// A sequence parameter set of 4:2:0 with two sub-layers (each with its profile and level) and a
// conformance window of 2 x 3 chroma samples, whose payload needs a byte that keeps a start code
// out.
TEST(CodedPictureSize, AnHevcParameterSetStatesItsSizeWithinItsWindow) {
    BitWriter s;
    s.put(0x4201, 16);  // a sequence parameter set's unit header
    s.put(0, 4);
    s.put(2, 3);  // three sub-layers in all: two more
    s.put(1, 1);
    s.put(0, 96);  // the general profile and level, all zero: start codes the payload must avoid
    s.put(0b1101, 4);  // the first sub-layer has its profile and level, the second its level
    s.put(0, 2 * 6);
    s.put(0, 88 + 8);
    s.put(0, 8);
    s.ue(0);
    s.ue(1);  // 4:2:0
    s.ue(4032);
    s.ue(3040);
    s.put(1, 1);
    s.ue(0);
    s.ue(2);
    s.ue(3);
    s.ue(1);
    s.put(1, 1);
    s.put(0, 7);
    // The bytes that keep start codes out, as an encoder puts them.
    std::vector<std::uint8_t> unit;
    int zeros = 0;
    for (const std::uint8_t byte : s.bytes) {
        if (zeros >= 2 && byte <= 3) {
            unit.push_back(3);
            zeros = 0;
        }
        unit.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    const std::optional<CodedSize> size = HevcParameterSetSize(unit);
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 4032u - 2 * 2);
    EXPECT_EQ(size->height, 3040u - 2 * 4);
}

}  // namespace
