// The PNG decoder's faster path against libpng's own, on files made here with every filter on
// every kind of picture it takes, and then damaged in every way that matters: what the faster path
// gives is libpng's picture, and what libpng refuses the decoder refuses with libpng's reason.
#include "base/RuntimeError.h"
#include "engine/formats/PngDecoder.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void putBigEndian(Bytes& b, std::uint32_t v) {
    for (const int shift : {24, 16, 8, 0}) {
        b.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

Bytes chunk(const char* type, const Bytes& data) {
    Bytes c;
    putBigEndian(c, static_cast<std::uint32_t>(data.size()));
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    putBigEndian(c, static_cast<std::uint32_t>(crc32_z(0, c.data() + 4, data.size() + 4)));
    return c;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Made {
    Bytes head;        // signature and header
    Bytes compressed;  // the picture's zlib stream
};

// Rows of random filter types (or `badFilter` on row 3) over samples alike in runs, so that the
// stream holds literals and matches; `windowBits` below 15 gives a stream of a smaller window.
Made make(int colourType, int width, int height, std::uint32_t seed, int badFilter = -1,
          int windowBits = 15, int depth = 8) {
    const int channels = (colourType == 0 || colourType == 3 ? 1
                          : colourType == 4                  ? 2
                          : colourType == 2                  ? 3
                                                             : 4) *
                         depth / 8;
    std::mt19937 random(seed);
    Bytes rows;
    for (int y = 0; y < height; ++y) {
        rows.push_back(y == 3 && badFilter >= 0 ? static_cast<std::uint8_t>(badFilter)
                                                : static_cast<std::uint8_t>(random() % 5));
        for (int x = 0; x < width * channels; ++x) {
            rows.push_back(random() % 4 == 0 ? static_cast<std::uint8_t>(random())
                                             : static_cast<std::uint8_t>(x * 3 + y));
        }
    }
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes compressed(deflateBound(&z, rows.size()));
    z.next_in = rows.data();
    z.avail_in = static_cast<uInt>(rows.size());
    z.next_out = compressed.data();
    z.avail_out = static_cast<uInt>(compressed.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    compressed.resize(z.total_out);
    deflateEnd(&z);
    Bytes header;
    putBigEndian(header, static_cast<std::uint32_t>(width));
    putBigEndian(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {static_cast<std::uint8_t>(depth),
                                 static_cast<std::uint8_t>(colourType), 0, 0, 0});
    return {Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'} + chunk("IHDR", header), compressed};
}

// The stream in image data chunks of `piece` bytes (the last one shorter).
Bytes dataChunks(const Bytes& compressed, std::size_t piece) {
    Bytes out;
    for (std::size_t at = 0; at < compressed.size(); at += piece) {
        const auto end = std::min(compressed.size(), at + piece);
        out = out + chunk("IDAT", Bytes(compressed.begin() + static_cast<std::ptrdiff_t>(at),
                                        compressed.begin() + static_cast<std::ptrdiff_t>(end)));
    }
    return out;
}

struct Outcome {
    std::optional<BgrxImage> picture;
    std::string failure;
};

template <typename Decode>
Outcome outcome(Decode decode) {
    try {
        return {decode(), {}};
    } catch (const RuntimeError& e) {
        return {std::nullopt, e.description()};
    }
}

bool samePixels(const BgrxImage& a, const BgrxImage& b) {
    if (a.width() != b.width() || a.height() != b.height()) {
        return false;
    }
    for (int y = 0; y < a.height(); ++y) {
        if (std::memcmp(a.row(y), b.row(y), std::size_t(4) * std::size_t(a.width())) != 0) {
            return false;
        }
    }
    return true;
}

// `file` read by the decoder and by libpng alone: the same picture or the same refusal; what the
// faster path gives alone is libpng's picture; the rows told of go up, to the last of a picture
// given. Whether the faster path took it.
bool readsAsLibpng(const Bytes& file) {
    const std::span<const std::uint8_t> bytes(file);
    const Outcome libpng = outcome([&] { return DecodePngWithLibpng(bytes, "x.png"); });
    std::vector<int> told;  // rows told of, as a viewer is
    const Outcome decoded = outcome([&] {
        return DecodePng(bytes, "x.png", [&](const BgrxImage&, int rows) {
            EXPECT_GT(rows, told.empty() ? 0 : told.back());
            told.push_back(rows);
        });
    });
    if (decoded.picture) {
        EXPECT_EQ(told.back(), decoded.picture->height());
    }
    const std::optional<BgrxImage> atOnce = DecodePngAtOnce(bytes);
    EXPECT_EQ(decoded.failure, libpng.failure);
    EXPECT_EQ(decoded.picture.has_value(), libpng.picture.has_value());
    if (decoded.picture && libpng.picture) {
        EXPECT_TRUE(samePixels(*decoded.picture, *libpng.picture));
    }
    if (atOnce) {
        EXPECT_TRUE(libpng.picture.has_value()) << "libpng refuses: " << libpng.failure;
        EXPECT_TRUE(libpng.picture && samePixels(*atOnce, *libpng.picture));
    }
    return atOnce.has_value();
}

TEST(PngAtOnce, GivesLibpngsPictureOrLibpngsRefusal) {
    const Bytes end = chunk("IEND", {});
    const Bytes text = chunk("tEXt", {'a', 0, 'b'});
    const struct {
        int colourType, width, height;
    } kinds[] = {{0, 1, 9},  {0, 33, 17}, {2, 7, 12}, {2, 40, 30},
                 {4, 5, 11}, {6, 1, 5},   {6, 29, 21}};
    for (const auto& kind : kinds) {
        SCOPED_TRACE("colour type " + std::to_string(kind.colourType) + ", " +
                     std::to_string(kind.width) + " x " + std::to_string(kind.height));
        const auto seed = static_cast<std::uint32_t>(kind.colourType * 100 + kind.width);
        const Made m = make(kind.colourType, kind.width, kind.height, seed);
        const Bytes data = dataChunks(m.compressed, 1 << 20);
        const Bytes whole = m.head + data + end;

        // Whole, in any number of chunks and with chunks before and after: at once.
        EXPECT_TRUE(readsAsLibpng(whole));
        EXPECT_TRUE(readsAsLibpng(m.head + text + dataChunks(m.compressed, 7) + text + end));
        EXPECT_TRUE(readsAsLibpng(m.head + data + chunk("IDAT", {}) + end + Bytes{1, 2, 3}));

        // Whole but not plain: libpng decides.
        Bytes junkAfterStream = m.compressed;
        junkAfterStream.push_back(0);
        Bytes badTextChecksum = text;
        badTextChecksum.back() ^= 1;
        const Bytes notPlain[] = {
            m.head + chunk("IDAT", junkAfterStream) + end,
            m.head + data + text + chunk("IDAT", {1}) + end,
            m.head + data + badTextChecksum + end,
            m.head + data + chunk("ABCD", {}) + end,
            m.head + data + chunk("IHDR", {'x'}) + end,
            m.head + data + chunk("IEND", {0}),
            m.head + data,
            m.head +
                dataChunks(make(kind.colourType, kind.width, kind.height, seed, 5).compressed, 64) +
                end,
            m.head +
                dataChunks(make(kind.colourType, kind.width, kind.height, seed, -1, 9).compressed,
                           64) +
                end,
        };
        for (const Bytes& file : notPlain) {
            readsAsLibpng(file);
        }

        // Other kinds of picture: libpng's. (A transparent colour is not one beside an alpha
        // channel: libpng passes over it.)
        const Bytes clear =
            chunk("tRNS", kind.colourType == 2 ? Bytes{0, 1, 0, 3, 0, 5} : Bytes{0, 3});
        EXPECT_EQ(readsAsLibpng(m.head + clear + data + end), kind.colourType >= 4);
        const Bytes palette = chunk("PLTE", Bytes(3 * 256, 77));
        for (const Bytes& file :
             {make(kind.colourType, kind.width, kind.height, seed, -1, 15, 16).head +
                  dataChunks(
                      make(kind.colourType, kind.width, kind.height, seed, -1, 15, 16).compressed,
                      64) +
                  end,
              make(3, kind.width, kind.height, seed).head + palette +
                  dataChunks(make(3, kind.width, kind.height, seed).compressed, 64) + end}) {
            EXPECT_FALSE(readsAsLibpng(file));
        }

        // Damaged: cut, the tail zeroed, one bit flipped, from every 11th byte on.
        std::mt19937 random(seed);
        for (std::size_t at = 8; at < whole.size(); at += 11) {
            SCOPED_TRACE("at " + std::to_string(at) + " of " + std::to_string(whole.size()));
            readsAsLibpng(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(at)));
            Bytes zeroed = whole;
            std::fill(zeroed.begin() + static_cast<std::ptrdiff_t>(at), zeroed.end(), 0);
            readsAsLibpng(zeroed);
            Bytes flipped = whole;
            flipped[at] ^= static_cast<std::uint8_t>(1 << (random() % 8));
            readsAsLibpng(flipped);
        }
    }
}

}  // namespace
