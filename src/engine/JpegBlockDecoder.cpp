#include "engine/JpegBlockDecoder.h"

#include "base/RuntimeError.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>
// after jpeglib.h
#include <jpegint.h>  // the entropy decoder's interface, replaced below

namespace {

void onMessage(j_common_ptr, int) {}

// The header up to its scan header, then the end marker: all the decoder reads.
std::vector<std::uint8_t> headerOnly(std::span<const std::uint8_t> file) {
    const std::size_t end = ScanHeaderEnd(file);
    if (end == 0) {
        return {};
    }
    std::vector<std::uint8_t> header(file.begin(), file.begin() + std::ptrdiff_t(end));
    header.push_back(0xFF);
    header.push_back(JPEG_EOI);
    return header;
}

}  // namespace

std::size_t ScanHeaderEnd(std::span<const std::uint8_t> file) {
    // Segment by segment: a table's values may hold the scan marker's bytes.
    std::size_t at = 2;  // after the start marker
    while (at + 4 <= file.size() && file[at] == 0xFF) {
        const std::size_t end = at + 2 + (std::size_t(file[at + 2]) << 8 | file[at + 3]);
        if (file[at + 1] == 0xDA) {
            return end <= file.size() ? end : 0;
        }
        at = end;
    }
    return 0;
}

struct JpegBlockDecoder::State {
    struct Errors {
        jpeg_error_mgr pub;
        std::jmp_buf jump;
        char message[JMSG_LENGTH_MAX] = {};
    };
    // Stands in for the entropy decoder's call for each unit of coding (a grey picture's is a
    // single block): the next block as given, where the decoder would read it from the coded
    // data.
    struct Feed {
        const std::int16_t* next = nullptr;
        int given = 0;
    };

    Errors errors;
    jpeg_decompress_struct info{};
    bool created = false;
    std::vector<std::uint8_t> header;
    Feed feed;
    std::size_t across = 0;           // the picture's width in whole blocks, in bytes
    std::vector<std::uint8_t> group;  // 8 rows of `across`, for the right and bottom edges

    ~State() {
        if (created) {
            jpeg_destroy_decompress(&info);
        }
    }
    [[noreturn]] void fail(const char* what) const {
        throw RuntimeError(ErrorNumber::InternalError,
                           std::string("the preview's JPEG could not be decoded: ") + what);
    }
    [[noreturn]] static void onError(j_common_ptr info) {
        auto* errors = reinterpret_cast<Errors*>(info->err);
        info->err->format_message(info, errors->message);
        std::longjmp(errors->jump, 1);
    }
    static boolean giveBlock(j_decompress_ptr info, JBLOCKROW* unit) {
        auto& feed = *static_cast<Feed*>(info->client_data);
        std::memcpy(unit[0][0], feed.next, sizeof(JBLOCK));
        feed.next += DCTSIZE2;
        ++feed.given;
        return TRUE;
    }
};

JpegBlockDecoder::JpegBlockDecoder(std::span<const std::uint8_t> file)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.header = headerOnly(file);
    if (s.header.empty()) {
        s.fail("no scan header");
    }
    s.info.err = jpeg_std_error(&s.errors.pub);
    s.errors.pub.error_exit = State::onError;
    s.errors.pub.emit_message = onMessage;
    if (setjmp(s.errors.jump) != 0) {
        s.fail(s.errors.message);
    }
    jpeg_create_decompress(&s.info);
    s.created = true;
    jpeg_mem_src(&s.info, s.header.data(), static_cast<unsigned long>(s.header.size()));
    jpeg_read_header(&s.info, TRUE);
    if (s.info.num_components != 1 || s.info.progressive_mode) {
        s.fail("not a grey baseline picture");
    }
    s.info.raw_data_out = TRUE;
    jpeg_start_decompress(&s.info);
    // The decoder's call for each unit is set by now, once for the scan.
    s.info.client_data = &s.feed;
    s.info.entropy->decode_mcu = State::giveBlock;
    s.across = std::size_t(s.info.comp_info[0].width_in_blocks) * DCTSIZE;
    s.group.resize(s.across * DCTSIZE);
}

JpegBlockDecoder::~JpegBlockDecoder() = default;

void JpegBlockDecoder::decodeRow(const std::int16_t* blocks, GreyImage& into, int top) {
    State& s = *state_;
    const int width = static_cast<int>(s.info.output_width);
    const int rows =
        std::min<int>(DCTSIZE, int(s.info.output_height) - int(s.info.output_scanline));
    if (into.width() != width || top < 0 || top + std::max(rows, 0) > into.height()) {
        s.fail("rows outside the picture given");
    }
    if (setjmp(s.errors.jump) != 0) {
        s.fail(s.errors.message);
    }
    const bool direct = s.across == std::size_t(width) && rows == DCTSIZE;
    JSAMPROW pointers[DCTSIZE];
    for (int k = 0; k < DCTSIZE; ++k) {
        pointers[k] = direct ? into.row(top + k) : s.group.data() + std::size_t(k) * s.across;
    }
    s.feed = {blocks, 0};
    JSAMPARRAY component = pointers;
    jpeg_read_raw_data(&s.info, &component, DCTSIZE);
    if (std::size_t(s.feed.given) * DCTSIZE != s.across) {
        s.fail("the blocks were not taken as given");  // past the last row, among others
    }
    for (int k = 0; !direct && k < rows; ++k) {
        std::memcpy(into.row(top + k), pointers[k], std::size_t(width));
    }
}
