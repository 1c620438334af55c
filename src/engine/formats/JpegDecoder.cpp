#include "engine/formats/JpegDecoder.h"

#include "base/RuntimeError.h"
#include "engine/formats/LoadFailure.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE
#include <string>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

namespace {

// The decoding work a file may ask for, counted as it is spent: every scan walks all the blocks
// of its components, however few bytes it holds, and in each block every coefficient of its
// band (a refinement pass looks at each one). A block's walk costs about as much as 16
// coefficients (measured: a scan of one coefficient, 12 ns a block). A baseline file costs 80 a
// block, a progressive photo about 220 to 350; a small file of many scans could take minutes.
constexpr int kMostScans = 200;
constexpr std::uint64_t kBlockCost = 16;
constexpr std::uint64_t kMostWorkPerBlock = 640;  // ten passes over all 64 coefficients
constexpr std::uint64_t kWorkAlwaysAllowed = std::uint64_t(64) << 20;
// And in time, whatever the size: a small file may ask for at most the work of about a second
// (a coefficient visited costs 1.6 to 3 ns here), a bigger one more with every byte it holds (a
// photo asks for far less than 400 a byte). Arithmetic coding can state a decision about a
// coefficient in a small part of a bit, so its scans count 4 times: measured, an arithmetic
// coefficient visit costs about 3 ns, and the costliest such file under 1 MB that is allowed
// converts in 1.3 s, of which 0.9 s is the busy picture it makes.
constexpr std::uint64_t kArithmeticCost = 4;
constexpr std::uint64_t kMostWorkOfAnyFile = std::uint64_t(400) << 20;
constexpr std::uint64_t kMoreWorkPerByte = 400;
// Stray bytes after a scan's data that still count as a tool's padding.
constexpr int kMostStrayBytes = 16;
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

enum class Outcome { Error, Harmless, TooCostly };

// libjpeg reports through these callbacks, which never return to it: they jump back to the
// decoder's call into the library, which raises the failure from there.
struct ErrorManager {
    jpeg_error_mgr pub;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    JpegDecoder::Warnings warnings;
    Outcome outcome = Outcome::Error;
    std::string message;
    int scan = 0;            // the scan whose work was counted last
    std::uint64_t work = 0;  // of the scans so far, in coefficients
    std::uint64_t mostWork = 0;
    std::uint64_t time = 0;  // the same, arithmetic-coded scans weighed as they cost
    std::uint64_t mostTime = 0;
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

// Whether picture data was thrown away: bytes left over after a scan's data, more than a tool's
// stray padding, mean that the data does not fit its header (a file cut and joined to another,
// a frame header that states too few rows). Bytes left over between the header's markers, before
// any scan, hold no picture.
bool pictureDataLeftOver(j_common_ptr info) {
    return info->is_decompressor && info->err->msg_code == JWRN_EXTRANEOUS_DATA &&
           reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > 0 &&
           info->err->msg_parm.i[0] > kMostStrayBytes;
}

void onMessage(j_common_ptr info, int level) {
    if (level >= 0) {
        return;  // tracing
    }
    ErrorManager& m = manager(info);
    std::string text = formatted(info);
    if (damagesPicture(text) || pictureDataLeftOver(info)) {
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
    if (!info->is_decompressor) {
        return;
    }
    const auto* d = reinterpret_cast<j_decompress_ptr>(info);
    ErrorManager& m = manager(info);
    if (d->input_scan_number == m.scan) {
        return;
    }
    m.scan = d->input_scan_number;
    const std::uint64_t band = std::uint64_t(std::max(d->Se - d->Ss + 1, 1));
    std::uint64_t work = 0;
    for (int c = 0; c < d->comps_in_scan; ++c) {
        work += std::uint64_t(d->cur_comp_info[c]->width_in_blocks) *
                d->cur_comp_info[c]->height_in_blocks * (kBlockCost + band);
    }
    m.work += work;
    m.time += work * (d->arith_code ? kArithmeticCost : 1);
    if (m.scan > kMostScans || m.work > m.mostWork || m.time > m.mostTime) {
        m.outcome = Outcome::TooCostly;
        m.message = m.scan > kMostScans ? "it has more than " + std::to_string(kMostScans) +
                                              " scans, where photos have fewer than 20"
                    : m.work > m.mostWork
                        ? "its scans pass over the picture's coefficients more than 10 times, "
                          "where photos need 1 to 5"
                        : "its scans ask for more work than a file of its size may, "
                          "arithmetic-coded data counting " +
                              std::to_string(kArithmeticCost) + " times";
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
    bool quick = false;
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
    std::uint64_t blocks = 0;
    for (int c = 0; c < s.info.num_components; ++c) {
        blocks += std::uint64_t(s.info.comp_info[c].width_in_blocks) *
                  s.info.comp_info[c].height_in_blocks;
    }
    s.errors.mostWork = std::max(kWorkAlwaysAllowed, kMostWorkPerBlock * blocks);
    s.errors.mostTime = kMostWorkOfAnyFile + kMoreWorkPerByte * size;
    s.cmyk = s.info.jpeg_color_space == JCS_CMYK || s.info.jpeg_color_space == JCS_YCCK;
    s.info.out_color_space = s.cmyk ? JCS_CMYK : JCS_EXT_BGRX;
}

JpegDecoder::~JpegDecoder() = default;

void JpegDecoder::lookQuickly(int denominator) {
    State& s = *state_;
    if (setjmp(s.errors.jump) != 0) {
        raise();
    }
    s.quick = true;
    s.info.scale_num = 1;
    s.info.scale_denom = static_cast<unsigned>(denominator);
    s.info.buffered_image = s.info.progressive_mode;
    // Smoothing guesses the missing coefficients of each block from its neighbours; at an eighth
    // only the average is used, and below that the guess is not worth its time either.
    s.info.do_block_smoothing = FALSE;
    jpeg_calc_output_dimensions(&s.info);
}

int JpegDecoder::width() const {
    const State& s = *state_;
    return static_cast<int>(s.quick ? s.info.output_width : s.info.image_width);
}

int JpegDecoder::height() const {
    const State& s = *state_;
    return static_cast<int>(s.quick ? s.info.output_height : s.info.image_height);
}

int JpegDecoder::rowsRead() const {
    return state_->rows;
}

void JpegDecoder::raise() {
    const State& s = *state_;
    if (s.errors.outcome == Outcome::Harmless) {
        throw HarmlessWarning{};
    }
    if (s.errors.outcome == Outcome::TooCostly) {
        throw CannotLoad(s.path, ErrorNumber::InvalidPicture,
                         "the JPEG file would take too long to decode (" + s.errors.message + ")");
    }
    throw CannotLoad(s.path, ErrorNumber::InvalidPicture,
                     std::string("the JPEG file is ") +
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
    if (s.info.buffered_image) {
        const auto everyAverage = [&] {
            for (int c = 0; c < s.info.num_components; ++c) {
                if (s.info.coef_bits[c][0] < 0) {
                    return false;
                }
            }
            return true;
        };
        for (int read = 0; read != JPEG_REACHED_EOI;) {
            read = jpeg_consume_input(&s.info);
            if (read == JPEG_SCAN_COMPLETED && everyAverage()) {
                break;
            }
        }
        jpeg_start_output(&s.info, s.info.input_scan_number);
    }
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
    if (s.rows == height() && !s.info.buffered_image) {
        jpeg_finish_decompress(&s.info);  // a quick look leaves the rest of the file unread
    }
    return done;
}
