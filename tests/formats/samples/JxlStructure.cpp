#include "formats/samples/JxlStructure.h"

#include <jxl/decode_cxx.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::uint64_t bigEndian(const QByteArray& b, qsizetype at, int width) {
    std::uint64_t v = 0;
    for (int k = 0; k < width; ++k) {
        v = v << 8 | static_cast<std::uint8_t>(b[at + k]);
    }
    return v;
}

// The codestream, and the offset in the file of each of its bytes (and of its end).
struct Codestream {
    QByteArray bytes;
    std::vector<qsizetype> inFile;
};

// The boxes of a file in the container: their starts, contents and ends as boundaries, their
// sizes as fields; the codestream gathered from its one box or its parts.
Codestream readBoxes(ContractSample& s) {
    const QByteArray& b = s.bytes;
    Codestream code;
    qsizetype at = 0;
    while (at + 8 <= b.size()) {
        const QByteArray type = b.mid(at + 4, 4);
        std::uint64_t size = bigEndian(b, at, 4);
        qsizetype header = 8;
        if (size == 1) {
            size = bigEndian(b, at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = std::uint64_t(b.size() - at);
        } else {
            s.fields.push_back(IntegerField(type.toStdString() + " box size", at, 4, true));
        }
        const qsizetype end = at + qsizetype(size);
        if (size < std::uint64_t(header) || end > b.size()) {
            throw std::runtime_error("a box reaches beyond the file");
        }
        s.boundaries.push_back(at);
        s.boundaries.push_back(at + header);
        qsizetype content = at + header;
        if (type == "jxlp") {
            s.fields.push_back(IntegerField("jxlp index", content, 4, true, FieldKind::Count));
            content += 4;
        }
        if (type == "jxlc" || type == "jxlp") {
            code.bytes += b.mid(content, end - content);
            for (qsizetype k = content; k < end; ++k) {
                code.inFile.push_back(k);
            }
        }
        at = end;
    }
    s.boundaries.push_back(at);
    code.inFile.push_back(at);
    return code;
}

// One of the ways a whole number is stored in a fixed number of bits: `bits` of them holding the
// number less `offset` (none: the number is `offset`).
struct Dist {
    int bits;
    std::uint64_t offset;
};

// A number in the codestream's bits: where its bits begin, how many, and what they add to.
struct StoredNumber {
    qsizetype bit = 0;
    Dist dist{0, 0};
    std::uint64_t value = 0;
};

// Reads the codestream's bits, least significant first, as its decoder does.
class BitReader {
  public:
    BitReader(const QByteArray& bytes, qsizetype bit) : bytes_(bytes), bit_(bit) {}

    std::uint64_t read(int count) {
        std::uint64_t v = 0;
        for (int k = 0; k < count; ++k, ++bit_) {
            if (bit_ / 8 >= bytes_.size()) {
                throw std::runtime_error("the codestream ends within a header");
            }
            v |= std::uint64_t(static_cast<std::uint8_t>(bytes_[bit_ / 8]) >> (bit_ % 8) & 1) << k;
        }
        return v;
    }

    // A number in one of four ways, chosen by two bits before it.
    StoredNumber u32(const Dist (&ways)[4]) {
        const Dist d = ways[read(2)];
        StoredNumber n{bit_, d, 0};
        n.value = d.offset + read(d.bits);
        return n;
    }

    std::uint64_t u64() {
        switch (read(2)) {
            case 0:
                return 0;
            case 1:
                return 1 + read(4);
            case 2:
                return 17 + read(8);
            default: {
                std::uint64_t v = read(12);
                for (int shift = 12; read(1) == 1; shift += 8) {
                    if (shift == 60) {
                        return v | read(4) << 60;
                    }
                    v |= read(8) << shift;
                }
                return v;
            }
        }
    }

    qsizetype bit() const { return bit_; }

  private:
    const QByteArray& bytes_;
    qsizetype bit_;
};

constexpr Dist kSizeDist[4] = {{9, 0}, {13, 0}, {18, 0}, {30, 0}};
constexpr Dist kFrameDist[4] = {{8, 0}, {11, 256}, {14, 2304}, {30, 18688}};
constexpr Dist kTocDist[4] = {{10, 0}, {14, 1024}, {22, 17408}, {30, 4211712}};

// A field of stored bits changed in place: the number they hold, read through `meaning` and
// doubled or halved (its kind), written back when it fits their width.
FieldEdit bitField(std::string what, std::shared_ptr<const std::vector<qsizetype>> inFile,
                   StoredNumber stored, FieldKind kind,
                   std::function<std::int64_t(std::uint64_t)> meaning,
                   std::function<std::optional<std::uint64_t>(std::int64_t)> stored_as) {
    return {
        std::move(what), [=](const QByteArray& whole, int direction) -> std::optional<QByteArray> {
            const auto bitAt = [&](qsizetype k) -> std::pair<qsizetype, int> {
                return {(*inFile)[(stored.bit + k) / 8], int((stored.bit + k) % 8)};
            };
            std::uint64_t raw = 0;
            for (int k = 0; k < stored.dist.bits; ++k) {
                const auto [byte, bit] = bitAt(k);
                raw |= std::uint64_t(static_cast<std::uint8_t>(whole[byte]) >> bit & 1) << k;
            }
            const std::int64_t v = meaning(raw + stored.dist.offset);
            std::int64_t changed = 0;
            if (kind == FieldKind::Count) {
                changed = v + direction;
            } else if (v == 0) {
                return std::nullopt;
            } else {
                changed = direction > 0 ? 2 * v : v / 2;
            }
            const std::optional<std::uint64_t> number = stored_as(changed);
            if (!number || *number < stored.dist.offset ||
                *number - stored.dist.offset >= (std::uint64_t(1) << stored.dist.bits)) {
                return std::nullopt;
            }
            const std::uint64_t bits = *number - stored.dist.offset;
            QByteArray edited = whole;
            for (int k = 0; k < stored.dist.bits; ++k) {
                const auto [byte, bit] = bitAt(k);
                const char mask = static_cast<char>(1 << bit);
                edited[byte] =
                    static_cast<char>((bits >> k & 1) ? edited[byte] | mask : edited[byte] & ~mask);
            }
            return edited;
        }};
}

// A size stored as size / unit - 1.
FieldEdit sizeField(std::string what, std::shared_ptr<const std::vector<qsizetype>> inFile,
                    StoredNumber stored, std::int64_t unit) {
    return bitField(
        std::move(what), std::move(inFile), stored, FieldKind::Size,
        [unit](std::uint64_t n) { return std::int64_t(n + 1) * unit; },
        [unit](std::int64_t size) -> std::optional<std::uint64_t> {
            if (size < unit) {
                return std::nullopt;
            }
            return std::uint64_t(size / unit - 1);
        });
}

// A size stored as size - 1 made one larger and one smaller, when that leaves the number of 8 x 8
// blocks it covers as it was.
FieldEdit sizeWithinBlocks(std::string what, std::shared_ptr<const std::vector<qsizetype>> inFile,
                           StoredNumber stored) {
    const auto blocks = [](std::int64_t size) { return (size + 7) / 8; };
    const std::int64_t size = std::int64_t(stored.value) + 1;
    FieldEdit edit = bitField(
        std::move(what), std::move(inFile), stored, FieldKind::Count,
        [](std::uint64_t n) { return std::int64_t(n + 1); },
        [=](std::int64_t changed) -> std::optional<std::uint64_t> {
            if (changed < 1 || blocks(changed) != blocks(size)) {
                return std::nullopt;
            }
            return std::uint64_t(changed - 1);
        });
    edit.staysValid =
        "a lossy picture is coded in 8 x 8 blocks whose samples beyond its edge are the "
        "encoder's free choice: a size within the same blocks is a valid file of that size";
    return edit;
}

FieldEdit plainField(std::string what, std::shared_ptr<const std::vector<qsizetype>> inFile,
                     StoredNumber stored, FieldKind kind) {
    return bitField(
        std::move(what), std::move(inFile), stored, kind,
        [](std::uint64_t n) { return std::int64_t(n); },
        [](std::int64_t v) -> std::optional<std::uint64_t> {
            if (v < 0) {
                return std::nullopt;
            }
            return std::uint64_t(v);
        });
}

// A frame's position, stored with its sign in the lowest bit.
FieldEdit signedField(std::string what, std::shared_ptr<const std::vector<qsizetype>> inFile,
                      StoredNumber stored) {
    return bitField(
        std::move(what), std::move(inFile), stored, FieldKind::Offset,
        [](std::uint64_t n) { return n & 1 ? -std::int64_t(n + 1) / 2 : std::int64_t(n / 2); },
        [](std::int64_t v) -> std::optional<std::uint64_t> {
            return v < 0 ? std::uint64_t(-2 * v - 1) : std::uint64_t(2 * v);
        });
}

// The size header, just after the codestream's signature: whether it is small (sizes in eighths
// in 5 bits), the height, the ratio of the width to it (0: the width is stored too). In a file
// coded in VarDCT's blocks, each size also one larger and one smaller within its blocks.
void readSizeHeader(const Codestream& code, bool inBlocks,
                    std::shared_ptr<const std::vector<qsizetype>> inFile, ContractSample& s) {
    BitReader bits(code.bytes, 16);
    const bool small = bits.read(1) == 1;
    const auto size = [&](const char* what) {
        StoredNumber n;
        if (small) {
            n = {bits.bit(), {5, 0}, 0};
            n.value = bits.read(5);
        } else {
            n = bits.u32(kSizeDist);
        }
        const std::string name = std::string("size header ") + what;
        s.fields.push_back(sizeField(name, inFile, n, small ? 8 : 1));
        if (inBlocks && !small) {
            s.fields.push_back(sizeWithinBlocks(name + " within its blocks", inFile, n));
        }
    };
    size("height");
    if (bits.read(3) == 0) {
        size("width");
    }
}

// The header of the frame that begins at `at`, up to its position and size when it states them.
void readFrameHeader(const Codestream& code, qsizetype at, bool xyb, std::uint64_t canvasWidth,
                     std::uint64_t canvasHeight, int frame,
                     std::shared_ptr<const std::vector<qsizetype>> inFile, ContractSample& s) {
    BitReader bits(code.bytes, 8 * at);
    if (bits.read(1) == 1) {
        return;  // all default: the whole canvas
    }
    const std::uint64_t type = bits.read(2);
    const bool modular = bits.read(1) == 1;
    const std::uint64_t flags = bits.u64();
    constexpr std::uint64_t kUseDcFrame = 32;
    if (!xyb && bits.read(1) == 1 && (flags & kUseDcFrame) == 0) {
        bits.read(6);  // the chroma subsampling of YCbCr
    }
    if ((flags & kUseDcFrame) == 0) {
        bits.read(2);  // upsampling
    }
    if (modular) {
        bits.read(2);  // the group size
    } else if (xyb) {
        bits.read(6);  // the quantisation matrices' scales
    }
    constexpr std::uint64_t kDcFrame = 1, kReferenceOnly = 2, kSkipProgressive = 3;
    if (type != kReferenceOnly) {
        const std::uint64_t passes = bits.u32({{0, 1}, {0, 2}, {0, 3}, {3, 4}}).value;
        if (passes != 1) {
            const std::uint64_t downsampled = bits.u32({{0, 0}, {0, 1}, {0, 2}, {1, 3}}).value;
            bits.read(2 * int(passes - 1));
            for (std::uint64_t k = 0; k < downsampled; ++k) {
                bits.read(2);
            }
            for (std::uint64_t k = 0; k < downsampled; ++k) {
                bits.u32({{0, 0}, {0, 1}, {0, 2}, {3, 0}});
            }
        }
    }
    if (type == kDcFrame) {
        return;
    }
    if (bits.read(1) == 0) {
        return;  // no custom size or position
    }
    const std::string name = "frame " + std::to_string(frame) + " ";
    const bool placed = type == 0 || type == kSkipProgressive;
    const StoredNumber x = placed ? bits.u32(kFrameDist) : StoredNumber{};
    const StoredNumber y = placed ? bits.u32(kFrameDist) : StoredNumber{};
    const StoredNumber width = bits.u32(kFrameDist);
    const StoredNumber height = bits.u32(kFrameDist);
    s.fields.push_back(plainField(name + "width", inFile, width, FieldKind::Size));
    s.fields.push_back(plainField(name + "height", inFile, height, FieldKind::Size));
    if (placed) {
        FieldEdit left = signedField(name + "x", inFile, x);
        FieldEdit top = signedField(name + "y", inFile, y);
        if (width.value < canvasWidth || height.value < canvasHeight) {
            // Its header's fields after these depend on whether it covers the canvas, which a
            // frame smaller than it never does wherever it lies.
            left.staysValid = top.staysValid =
                "a frame's position is no part of its coded data: a frame smaller than the "
                "canvas moved is a valid file whose frame lies elsewhere";
        }
        s.fields.push_back(std::move(left));
        s.fields.push_back(std::move(top));
    }
}

// The table of contents just before a frame's data at `data`, which ends at `end`: the entries,
// from a byte boundary to the data, whose sizes add up to the data's. Found from the data back,
// since the header before it has fields of every length.
std::vector<StoredNumber> tableOfContents(const Codestream& code, qsizetype headerStart,
                                          qsizetype data, qsizetype end) {
    const std::uint64_t length = std::uint64_t(end - data);
    for (qsizetype start = data - 2; start > headerStart; --start) {
        BitReader bits(code.bytes, 8 * start);
        std::vector<StoredNumber> entries;
        std::uint64_t sum = 0;
        while (bits.bit() < 8 * data && sum <= length) {
            entries.push_back(bits.u32(kTocDist));  // within the data at the most
            sum += entries.back().value;
            if ((bits.bit() + 7) / 8 == data && sum == length) {
                return entries;
            }
        }
    }
    throw std::runtime_error("no table of contents found before a frame's data");
}

// Where, in the codestream, the first frame begins and each frame's data begins and ends, as
// libjxl reads them, frame by frame, without blending them.
struct FramePlaces {
    bool xyb = false;
    std::uint64_t width = 0, height = 0;
    qsizetype firstFrame = 0;
    std::vector<qsizetype> dataStarts, ends;
};

FramePlaces placesOf(const QByteArray& bytes) {
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    JxlDecoder* d = decoder.get();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    if (JxlDecoderSubscribeEvents(d, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FRAME |
                                         JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetCoalescing(d, JXL_FALSE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(d, data, std::size_t(bytes.size())) != JXL_DEC_SUCCESS) {
        throw std::runtime_error("libjxl's decoder does not start");
    }
    FramePlaces places;
    std::vector<std::uint8_t> pixels;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(d);
        const qsizetype at = bytes.size() - qsizetype(JxlDecoderReleaseInput(d));
        JxlDecoderSetInput(d, data + at, std::size_t(bytes.size() - at));
        if (status == JXL_DEC_BASIC_INFO) {
            JxlBasicInfo info;
            JxlDecoderGetBasicInfo(d, &info);
            places.xyb = !info.uses_original_profile;
            places.width = info.xsize;
            places.height = info.ysize;
        } else if (status == JXL_DEC_COLOR_ENCODING) {
            places.firstFrame = at;
        } else if (status == JXL_DEC_FRAME) {
            places.dataStarts.push_back(at);
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
            std::size_t size = 0;
            JxlDecoderImageOutBufferSize(d, &format, &size);
            pixels.resize(size);
            JxlDecoderSetImageOutBuffer(d, &format, pixels.data(), size);
        } else if (status == JXL_DEC_FULL_IMAGE) {
            places.ends.push_back(at);
        } else if (status == JXL_DEC_SUCCESS) {
            return places;
        } else {
            throw std::runtime_error("libjxl cannot decode a sample");
        }
    }
}

}  // namespace

void AddJxlStructure(ContractSample& s) {
    Codestream code;
    if (s.bytes.startsWith(QByteArray("\0\0\0\x0CJXL ", 8))) {
        code = readBoxes(s);
    } else {
        code.bytes = s.bytes;
        for (qsizetype k = 0; k <= s.bytes.size(); ++k) {
            code.inFile.push_back(k);
        }
    }
    const auto inFile = std::make_shared<const std::vector<qsizetype>>(code.inFile);
    const FramePlaces places = placesOf(code.bytes);
    // The first frame's header: whether all its fields are the defaults (VarDCT), its type in two
    // bits, then whether it is modular.
    const auto first = static_cast<std::uint8_t>(code.bytes[places.firstFrame]);
    const bool inBlocks = (first & 1) != 0 || (first & 8) == 0;
    readSizeHeader(code, inBlocks, inFile, s);
    s.boundaries.push_back(code.inFile[std::size_t(places.firstFrame)]);
    qsizetype frameStart = places.firstFrame;
    for (std::size_t k = 0; k < places.dataStarts.size() && k < places.ends.size(); ++k) {
        const qsizetype data = places.dataStarts[k];
        const qsizetype end = places.ends[k];
        s.boundaries.push_back(code.inFile[std::size_t(data)]);
        s.boundaries.push_back(code.inFile[std::size_t(end)]);
        readFrameHeader(code, frameStart, places.xyb, places.width, places.height, int(k), inFile,
                        s);
        const std::vector<StoredNumber> toc = tableOfContents(code, frameStart, data, end);
        for (std::size_t e = 0; e < toc.size() && e < 3; ++e) {
            s.fields.push_back(
                plainField("frame " + std::to_string(k) + " section " + std::to_string(e) + " size",
                           inFile, toc[e], FieldKind::Size));
        }
        frameStart = end;
    }
}
