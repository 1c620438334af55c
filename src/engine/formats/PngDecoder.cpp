#include "engine/formats/PngDecoder.h"

#include "base/RuntimeError.h"
#include "engine/formats/ByteReading.h"
#include "engine/formats/LoadFailure.h"
#include "engine/formats/PngImageChunks.h"
#include "engine/formats/PngRows.h"
#include "filter/BlackWhiteFilter.h"

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// What libpng may not read: every ancillary chunk but transparency, which changes the pixels.
constexpr png_byte kSkipped[] =
    "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf\0tIME\0pHYs\0gAMA\0cHRM\0"
    "sRGB\0bKGD\0hIST\0sBIT\0pCAL\0sCAL\0oFFs\0sTER\0";

struct State {
    std::span<const std::uint8_t> bytes;
    std::size_t at = 0;
    std::string message;
    png_structp png = nullptr;
    png_infop info = nullptr;

    ~State() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

State& stateOf(png_structp png) {
    return *static_cast<State*>(png_get_io_ptr(png));
}

[[noreturn]] void onError(png_structp png, png_const_charp message) {
    auto* s = static_cast<State*>(png_get_error_ptr(png));
    s->message = message;
    png_longjmp(png, 1);
}

// Most warnings are flaws that leave the picture whole (a bad checksum on a skipped chunk, say);
// image data beyond or short of what the header states is not.
void onWarning(png_structp png, png_const_charp message) {
    auto* s = static_cast<State*>(png_get_error_ptr(png));
    const std::string text = message;
    if (s->message.empty() && (text.find("image data") != std::string::npos ||
                               text.find("compressed data") != std::string::npos)) {
        s->message = text;
    }
}

void readBytes(png_structp png, png_bytep into, png_size_t count) {
    State& s = stateOf(png);
    if (count > s.bytes.size() - s.at) {
        png_error(png, "the file ends before the picture does");
    }
    std::memcpy(into, s.bytes.data() + s.at, count);
    s.at += count;
}

// Reads the header and sets the transformations into blue, green, red and alpha or filler.
// Holds no C++ object that a failure's jump could skip.
bool readHeader(State& s, bool& alpha) {
    if (setjmp(png_jmpbuf(s.png))) {
        return false;
    }
    png_set_read_fn(s.png, &s, readBytes);
    png_set_user_limits(s.png, kFilterMaxWidth, kFilterMaxHeight);
    png_set_keep_unknown_chunks(s.png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(s.png, PNG_HANDLE_CHUNK_NEVER, kSkipped,
                                static_cast<int>(sizeof kSkipped / 5));
    png_read_info(s.png, s.info);
    const png_byte type = png_get_color_type(s.png, s.info);
    alpha = (type & PNG_COLOR_MASK_ALPHA) || png_get_valid(s.png, s.info, PNG_INFO_tRNS);
    png_set_expand(s.png);
    png_set_scale_16(s.png);
    png_set_gray_to_rgb(s.png);
    png_set_bgr(s.png);
    if (!alpha) {
        png_set_filler(s.png, 0, PNG_FILLER_AFTER);
    }
    png_set_interlace_handling(s.png);
    png_read_update_info(s.png, s.info);
    return true;
}

bool readRows(State& s, png_bytepp rows) {
    if (setjmp(png_jmpbuf(s.png))) {
        return false;
    }
    png_read_image(s.png, rows);
    png_read_end(s.png, nullptr);
    return true;
}

// `count` rows from `rows` on, of a picture not interlaced.
bool readSomeRows(State& s, png_bytepp rows, int count) {
    if (setjmp(png_jmpbuf(s.png))) {
        return false;
    }
    png_read_rows(s.png, rows, nullptr, static_cast<png_uint_32>(count));
    return true;
}

bool readEnd(State& s) {
    if (setjmp(png_jmpbuf(s.png))) {
        return false;
    }
    png_read_end(s.png, nullptr);
    return true;
}

RuntimeError failure(const QString& path, const State& s) {
    return CannotLoad(path, ErrorNumber::InvalidPicture,
                      "the picture is truncated or corrupt (" + s.message + ")");
}

// Over white, as with premultiplied colours: the colour times its alpha, plus the white that
// shows through.
void flattenOverWhite(BgrxImage& picture, int first, int count) {
    for (int y = first; y < first + count; ++y) {
        std::uint8_t* p = picture.row(y);
        for (int x = 0; x < 4 * picture.width(); x += 4) {
            const int a = p[x + 3];
            for (int c = 0; c < 3; ++c) {
                const int t = p[x + c] * a + 128;
                p[x + c] = static_cast<std::uint8_t>(((t + (t >> 8)) >> 8) + 255 - a);
            }
            p[x + 3] = 0;
        }
    }
}

constexpr int kBand = 64;  // rows told of at once

struct FreeDecompressor {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// Undoes the stored rows of a picture of 8-bit samples, top to bottom, into its layout.
class StoredRows {
  public:
    StoredRows(const std::uint8_t* data, int type, int channels, int width, bool alpha)
        : data_(data),
          type_(type),
          channels_(channels),
          width_(width),
          alpha_(alpha),
          rowBytes_(std::size_t(width) * std::size_t(channels)),
          above_(rowBytes_, 0),
          row_(rowBytes_) {}

    // Whether rows [0, count) all name a filter there is.
    bool filtersKnown(int count) const {
        for (int y = 0; y < count; ++y) {
            if (data_[std::size_t(y) * (rowBytes_ + 1)] > 4) {
                return false;
            }
        }
        return true;
    }

    // Rows [from, to) into `picture`, `from` being the row after the last one undone (or 0 to
    // begin again), telling `rowsDone` at the end of every band after row `told`.
    void undo(BgrxImage& picture, int from, int to, int told, const PngRowsDone& rowsDone) {
        if (from == 0) {
            std::fill(above_.begin(), above_.end(), 0);
        }
        for (int y = from; y < to; ++y) {
            const std::uint8_t* stored = data_ + std::size_t(y) * (rowBytes_ + 1);
            std::memcpy(row_.data(), stored + 1, rowBytes_);
            UnfilterPngRow(stored[0], row_.data(), above_.data(), rowBytes_, channels_);
            PngRowToBgrx(type_, row_.data(), picture.row(y), width_);
            row_.swap(above_);
            if ((y + 1) % kBand == 0 || y + 1 == to) {
                const int first = std::max(from, y / kBand * kBand);
                if (alpha_) {
                    flattenOverWhite(picture, first, y + 1 - first);
                }
                if (rowsDone && y + 1 > told) {
                    rowsDone(picture, y + 1);
                }
            }
        }
    }

  private:
    const std::uint8_t* data_;
    int type_, channels_, width_;
    bool alpha_;
    std::size_t rowBytes_;
    std::vector<std::uint8_t> above_, row_;
};

// A viewer's first rows, before the whole data is inflated and its end checked, as libpng shows
// them: the first twelfth of the rows inflated by zlib, which can stop there, and undone. How many
// rows were told of; none when the stream is not whole that far (the whole decode then decides),
// or when the twelfth is the whole picture (it is soon decoded whole, and checked).
int leadRows(const std::vector<std::span<const std::uint8_t>>& compressed, std::uint8_t* data,
             StoredRows& rows, BgrxImage& picture, std::size_t rowBytes,
             const PngRowsDone& rowsDone) {
    const int lead = (picture.height() / 12 + kBand - 1) / kBand * kBand;
    if (lead == 0 || lead >= picture.height()) {
        return 0;
    }
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        return 0;
    }
    z.next_out = data;
    z.avail_out = static_cast<uInt>(std::size_t(lead) * (rowBytes + 1));
    int result = Z_OK;
    for (std::size_t k = 0; k < compressed.size() && z.avail_out > 0 && result == Z_OK; ++k) {
        z.next_in = const_cast<Bytef*>(compressed[k].data());
        z.avail_in = static_cast<uInt>(compressed[k].size());  // a chunk is under 2^31 bytes
        while (result == Z_OK && z.avail_in > 0 && z.avail_out > 0) {
            result = inflate(&z, Z_SYNC_FLUSH);
        }
    }
    const bool whole = z.avail_out == 0;
    inflateEnd(&z);
    if (!whole || !rows.filtersKnown(lead)) {
        return 0;
    }
    rows.undo(picture, 0, lead, 0, {});
    rowsDone(picture, lead);  // at once: a viewer shows them as one
    return lead;
}

// The common picture, 8-bit samples not interlaced and without a transparent colour, decoded
// in less than half libpng's time: its compressed data inflated in one call by libdeflate, into
// the tail of the picture's own memory, and then undone row by row into the layout. Nothing when
// the picture is of another kind or anything about its data is not plainly right; libpng then
// decodes it from the start, and refuses it with its own reason or takes it as it does every
// file. Every check comes before a row is told of, but for the end of the data, which follows the
// lead rows a viewer is shown first (`told`, see leadRows). libdeflate takes a few streams that
// zlib refuses for a code that is never needed (an unused code word, a repeat one past the code
// lengths); with both checksums right, their picture is the one the data hold, and it is given.
std::optional<BgrxImage> decodeAtOnce(const State& s, bool alpha, const PngRowsDone& rowsDone,
                                      int& told) {
    // The header as stored, which libpng has checked: what it answers now is the picture as its
    // transformations make it.
    if (s.bytes.size() < 29) {
        return std::nullopt;
    }
    const png_byte depth = s.bytes[24];
    const png_byte type = s.bytes[25];
    const png_byte interlace = s.bytes[28];
    const int channels = type == PNG_COLOR_TYPE_GRAY         ? 1
                         : type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                         : type == PNG_COLOR_TYPE_RGB        ? 3
                         : type == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                                                             : 0;
    // A transparent colour (`alpha` without an alpha channel) is left to libpng.
    if (channels == 0 || depth != 8 || interlace != PNG_INTERLACE_NONE ||
        alpha != ((type & PNG_COLOR_MASK_ALPHA) != 0) || s.at < 16 ||
        !bytes::startsWith(s.bytes, "IDAT", 4, s.at - 4)) {
        return std::nullopt;
    }
    const int width = static_cast<int>(png_get_image_width(s.png, s.info));
    const int height = static_cast<int>(png_get_image_height(s.png, s.info));
    const std::size_t rowBytes = std::size_t(width) * std::size_t(channels);
    const std::size_t dataBytes = std::size_t(height) * (rowBytes + 1);
    std::optional<PngImageChunks> chunks =
        PngImageChunks::Walk(s.bytes, s.at - 8, PngDataChunkLimit(rowBytes, std::size_t(height)));
    if (!chunks) {
        return std::nullopt;
    }
    // A joined copy stays within what the picture's decode is charged; a zlib stream with
    // another window than the largest is left to libpng, which holds it to that window.
    std::size_t compressed = 0;
    int windowCode = -1;
    for (const auto piece : chunks->data()) {
        if (windowCode < 0 && !piece.empty()) {
            windowCode = piece[0];
        }
        compressed += piece.size();
    }
    if ((chunks->data().size() > 1 &&
         compressed >
             std::max<std::size_t>(2 * std::size_t(width) * std::size_t(height), 1 << 20)) ||
        windowCode != 0x78) {
        return std::nullopt;
    }
    const std::unique_ptr<libdeflate_decompressor, FreeDecompressor> inflater(
        libdeflate_alloc_decompressor());
    if (!inflater) {
        return std::nullopt;
    }
    const std::size_t pictureBytes = std::size_t(4) * std::size_t(width) * std::size_t(height);
    BgrxImage picture(width, height, dataBytes > pictureBytes ? dataBytes - pictureBytes : 0);
    // The data's row y ends at or after the picture's row y, so writing a row never reaches data
    // not yet read.
    std::uint8_t* const data = picture.data() + std::max(pictureBytes, dataBytes) - dataBytes;
    // Checked before any row is shown: libpng reads a chunk's checksum before the next chunk.
    if (!chunks->checksumsRight()) {
        return std::nullopt;
    }
    StoredRows rows(data, type, channels, width, alpha);
    if (rowsDone) {
        told = leadRows(chunks->data(), data, rows, picture, rowBytes, rowsDone);
    }
    const std::span<const std::uint8_t> whole = chunks->joined();
    std::size_t used = 0;
    if (libdeflate_zlib_decompress_ex(inflater.get(), whole.data(), whole.size(), data, dataBytes,
                                      &used, nullptr) != LIBDEFLATE_SUCCESS ||
        used != whole.size() || !rows.filtersKnown(height)) {
        return std::nullopt;
    }
    // The lead rows stand where the data did not reach, and the row after them follows from the
    // last one undone: only the rest is undone.
    const bool leadStands = told > 0 && std::size_t(told) * 4 * std::size_t(width) <=
                                            std::max(pictureBytes, dataBytes) - dataBytes;
    rows.undo(picture, leadStands ? told : 0, height, told, rowsDone);
    return picture;
}

// libpng set to read `png`'s header, transformations set; false when libpng refused it.
bool startLibpng(State& s, std::span<const std::uint8_t> png, const QString& path, bool& alpha) {
    s.bytes = png;
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s, onError, onWarning);
    if (s.png == nullptr || (s.info = png_create_info_struct(s.png)) == nullptr) {
        throw CannotLoad(path, ErrorNumber::OutOfMemory, "out of memory");
    }
    return readHeader(s, alpha);
}

// The rest of the file through libpng, once `startLibpng` has read the header.
BgrxImage decodeWithLibpng(State& s, const QString& path, const PngRowsDone& rowsDone, bool alpha) {
    BgrxImage picture(static_cast<int>(png_get_image_width(s.png, s.info)),
                      static_cast<int>(png_get_image_height(s.png, s.info)));
    std::vector<png_bytep> rows(static_cast<std::size_t>(picture.height()));
    for (int y = 0; y < picture.height(); ++y) {
        rows[static_cast<std::size_t>(y)] = picture.row(y);
    }
    if (!rowsDone || png_get_interlace_type(s.png, s.info) != PNG_INTERLACE_NONE) {
        if (!readRows(s, rows.data()) || !s.message.empty()) {
            throw failure(path, s);
        }
        if (alpha) {
            flattenOverWhite(picture, 0, picture.height());
        }
        return picture;
    }
    for (int y = 0; y < picture.height(); y += kBand) {
        const int count = std::min(kBand, picture.height() - y);
        if (!readSomeRows(s, rows.data() + y, count) || !s.message.empty()) {
            throw failure(path, s);
        }
        if (alpha) {
            flattenOverWhite(picture, y, count);
        }
        rowsDone(picture, y + count);
    }
    if (!readEnd(s) || !s.message.empty()) {
        throw failure(path, s);
    }
    return picture;
}

}  // namespace

BgrxImage DecodePng(std::span<const std::uint8_t> png, const QString& path,
                    const PngRowsDone& rowsDone) {
    std::optional<State> s(std::in_place);
    bool alpha = false;
    if (!startLibpng(*s, png, path, alpha)) {
        throw failure(path, *s);
    }
    const auto width = static_cast<long long>(png_get_image_width(s->png, s->info));
    const auto height = static_cast<long long>(png_get_image_height(s->png, s->info));
    CheckPictureSize(path, width, height);
    int told = 0;  // rows told of already
    if (std::optional<BgrxImage> picture = decodeAtOnce(*s, alpha, rowsDone, told)) {
        return std::move(*picture);
    }
    s.emplace();
    if (!startLibpng(*s, png, path, alpha)) {
        throw failure(path, *s);
    }
    if (told == 0) {
        return decodeWithLibpng(*s, path, rowsDone, alpha);
    }
    return decodeWithLibpng(
        *s, path,
        [&](const BgrxImage& picture, int rows) {
            if (rows > told) {
                rowsDone(picture, rows);
            }
        },
        alpha);
}

BgrxImage DecodePngWithLibpng(std::span<const std::uint8_t> png, const QString& path) {
    State s;
    bool alpha = false;
    if (!startLibpng(s, png, path, alpha)) {
        throw failure(path, s);
    }
    CheckPictureSize(path, png_get_image_width(s.png, s.info), png_get_image_height(s.png, s.info));
    return decodeWithLibpng(s, path, {}, alpha);
}

std::optional<BgrxImage> DecodePngAtOnce(std::span<const std::uint8_t> png) {
    State s;
    bool alpha = false;
    if (!startLibpng(s, png, "", alpha)) {
        return std::nullopt;
    }
    int told = 0;
    return decodeAtOnce(s, alpha, {}, told);
}
