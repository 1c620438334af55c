#include "engine/formats/PngDecoder.h"

#include "base/RuntimeError.h"
#include "engine/formats/LoadFailure.h"
#include "filter/BlackWhiteFilter.h"

#include <png.h>

#include <algorithm>
#include <cstring>
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

}  // namespace

BgrxImage DecodePng(std::span<const std::uint8_t> png, const QString& path,
                    const PngRowsDone& rowsDone) {
    State s;
    s.bytes = png;
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s, onError, onWarning);
    if (s.png == nullptr || (s.info = png_create_info_struct(s.png)) == nullptr) {
        throw CannotLoad(path, ErrorNumber::OutOfMemory, "out of memory");
    }
    bool alpha = false;
    if (!readHeader(s, alpha)) {
        throw failure(path, s);
    }
    const auto width = static_cast<long long>(png_get_image_width(s.png, s.info));
    const auto height = static_cast<long long>(png_get_image_height(s.png, s.info));
    CheckPictureSize(path, width, height);
    BgrxImage picture(static_cast<int>(width), static_cast<int>(height));
    std::vector<png_bytep> rows(static_cast<std::size_t>(height));
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
    constexpr int kBand = 64;
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
