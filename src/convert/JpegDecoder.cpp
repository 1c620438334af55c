#include "convert/JpegDecoder.h"

#include "convert/PictureLoader.h"
#include "shell/RuntimeError.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

// More scans than any real progressive file has; a file with thousands would take minutes.
constexpr int kMostScans = 500;
// CMYK rows pass through a buffer of their own on the way to the 4-byte layout.
constexpr int kCmykRows = 16;

// Warnings after which the decoded picture is incomplete or wrong; other warnings (extra bytes
// between markers, an odd version number) leave it intact.
bool damagesPicture(const std::string& message) {
    for (const char* sign : {"Premature end", "premature end", "bad Huffman code",
                             "bad arithmetic code", "instead of RST", "Inconsistent progression"}) {
        if (message.find(sign) != std::string::npos) {
            return true;
        }
    }
    return false;
}

enum class Outcome { Error, Harmless };

// libjpeg reports through these callbacks, which never return to it: they jump back to the
// decoder's call into the library, which raises the failure from there.
struct ErrorManager {
    jpeg_error_mgr pub;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    JpegDecoder::Warnings warnings;
    Outcome outcome = Outcome::Error;
    std::string message;
};

ErrorManager& manager(j_common_ptr info) {
    return *reinterpret_cast<ErrorManager*>(info->err);
}

std::string formatted(j_common_ptr info) {
    char text[JMSG_LENGTH_MAX] = {};
    info->err->format_message(info, text);
    return text;
}

[[noreturn]] void onError(j_common_ptr info) {
    ErrorManager& m = manager(info);
    m.outcome = Outcome::Error;
    m.message = formatted(info);
    std::longjmp(m.jump, 1);
}

void onMessage(j_common_ptr info, int level) {
    if (level >= 0) {
        return;  // tracing
    }
    ErrorManager& m = manager(info);
    std::string text = formatted(info);
    if (damagesPicture(text)) {
        m.outcome = Outcome::Error;
    } else if (m.warnings == JpegDecoder::Warnings::Stop) {
        m.outcome = Outcome::Harmless;
    } else {
        return;
    }
    m.message = std::move(text);
    std::longjmp(m.jump, 1);
}

void onProgress(j_common_ptr info) {
    if (info->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMostScans) {
        ErrorManager& m = manager(info);
        m.outcome = Outcome::Error;
        m.message = "Progressive JPEG image has more than " + std::to_string(kMostScans) + " scans";
        std::longjmp(m.jump, 1);
    }
}

// CMYK as Adobe writes it (inverted): red = C × K / 255, and so on.
void cmykToBgrx(const std::uint8_t* s, int width, std::uint8_t* d) {
    for (int x = 0; x < width; ++x, s += 4, d += 4) {
        const int k = s[3];
        d[0] = static_cast<std::uint8_t>((s[2] * k + 127) / 255);
        d[1] = static_cast<std::uint8_t>((s[1] * k + 127) / 255);
        d[2] = static_cast<std::uint8_t>((s[0] * k + 127) / 255);
        d[3] = 0;
    }
}

}  // namespace

struct JpegDecoder::State {
    ErrorManager errors;
    jpeg_decompress_struct info{};
    QString path;
    bool created = false;
    bool started = false;
    bool cmyk = false;
    int rows = 0;
    std::vector<std::uint8_t> cmykRows;

    ~State() {
        if (created) {
            jpeg_destroy_decompress(&info);
        }
    }
};

JpegDecoder::JpegDecoder(const std::uint8_t* jpeg, std::size_t size, const QString& path,
                         Warnings warnings)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.path = path;
    s.info.err = jpeg_std_error(&s.errors.pub);
    s.errors.pub.error_exit = onError;
    s.errors.pub.emit_message = onMessage;
    s.errors.warnings = warnings;
    s.errors.progress.progress_monitor = onProgress;
    if (setjmp(s.errors.jump) != 0) {
        raise();
    }
    jpeg_create_decompress(&s.info);
    s.created = true;
    s.info.progress = &s.errors.progress;
    jpeg_mem_src(&s.info, jpeg, static_cast<unsigned long>(size));
    jpeg_read_header(&s.info, TRUE);
    s.cmyk = s.info.jpeg_color_space == JCS_CMYK || s.info.jpeg_color_space == JCS_YCCK;
    s.info.out_color_space = s.cmyk ? JCS_CMYK : JCS_EXT_BGRX;
}

JpegDecoder::~JpegDecoder() = default;

int JpegDecoder::width() const {
    return static_cast<int>(state_->info.image_width);
}

int JpegDecoder::height() const {
    return static_cast<int>(state_->info.image_height);
}

int JpegDecoder::rowsRead() const {
    return state_->rows;
}

void JpegDecoder::raise() {
    const State& s = *state_;
    if (s.errors.outcome == Outcome::Harmless) {
        throw HarmlessWarning{};
    }
    throw RuntimeError(kInvalidPictureError,
                       "Cannot load " + s.path.toStdString() + ": the JPEG file is " +
                           (s.started ? "truncated or corrupt (" : "corrupt (") + s.errors.message +
                           ")");
}

void JpegDecoder::start() {
    State& s = *state_;
    s.started = true;
    if (setjmp(s.errors.jump) != 0) {
        raise();
    }
    jpeg_start_decompress(&s.info);
}

int JpegDecoder::readRows(std::uint8_t* const* rows, int count) {
    State& s = *state_;
    if (!s.started) {
        start();
    }
    if (!s.cmyk) {
        return decode(const_cast<JSAMPARRAY>(rows), count);
    }
    const std::size_t rowBytes = static_cast<std::size_t>(4) * width();
    const int wanted = std::min(count, kCmykRows);
    s.cmykRows.resize(rowBytes * kCmykRows);
    std::uint8_t* scratch[kCmykRows];
    for (int k = 0; k < wanted; ++k) {
        scratch[k] = s.cmykRows.data() + rowBytes * k;
    }
    const int done = decode(scratch, wanted);
    for (int k = 0; k < done; ++k) {
        cmykToBgrx(scratch[k], width(), rows[k]);
    }
    return done;
}

int JpegDecoder::decode(std::uint8_t** rows, int count) {
    State& s = *state_;
    if (s.rows == height()) {
        return 0;
    }
    if (setjmp(s.errors.jump) != 0) {
        raise();
    }
    const int done =
        static_cast<int>(jpeg_read_scanlines(&s.info, rows, static_cast<JDIMENSION>(count)));
    if (done == 0) {
        // Only a suspending source returns no rows, and the source here never suspends.
        s.errors.outcome = Outcome::Error;
        s.errors.message = "the decoder returned no rows";
        raise();
    }
    s.rows += done;
    if (s.rows == height()) {
        jpeg_finish_decompress(&s.info);
    }
    return done;
}
