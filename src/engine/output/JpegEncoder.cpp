#include "engine/output/JpegEncoder.h"

#include "engine/output/SaveFailure.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstring>
#include <string_view>
#include <vector>

#include <jpeglib.h>
// after jpeglib.h
#include <jerror.h>
#include <jpegint.h>  // the entropy coder's interface, for keepBlocks()

namespace {

// libjpeg reports through this, which never returns to it: it jumps back to the encoder's call
// into the library, which raises the failure from there.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void onError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void onMessage(j_common_ptr, int) {}  // the encoder's warnings do not touch the file

// The file's bytes go into a buffer that doubles when full; it is not cleared first, since the
// encoder writes every byte that is handed out.
struct Destination {
    jpeg_destination_mgr pub;
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t capacity = 0;
    std::size_t size = 0;
};

Destination& destination(j_compress_ptr info) {
    return *reinterpret_cast<Destination*>(info->dest);
}

void onStart(j_compress_ptr info) {
    Destination& d = destination(info);
    d.pub.next_output_byte = d.bytes.get();
    d.pub.free_in_buffer = d.capacity;
}

boolean onFull(j_compress_ptr info) {
    Destination& d = destination(info);
    try {
        auto larger = std::make_unique_for_overwrite<std::uint8_t[]>(2 * d.capacity);
        std::memcpy(larger.get(), d.bytes.get(), d.capacity);
        d.bytes = std::move(larger);
    } catch (...) {
        info->err->msg_code = JERR_OUT_OF_MEMORY;  // no exception may cross libjpeg
        info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
    }
    d.pub.next_output_byte = d.bytes.get() + d.capacity;
    d.pub.free_in_buffer = d.capacity;
    d.capacity *= 2;
    return TRUE;
}

// Room for `more` bytes after those written so far, outside libjpeg's calls.
void reserve(Destination& d, std::size_t more) {
    if (d.pub.free_in_buffer >= more) {
        return;
    }
    const std::size_t used = d.capacity - d.pub.free_in_buffer;
    const std::size_t capacity = std::max(2 * d.capacity, used + more);
    auto larger = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    std::memcpy(larger.get(), d.bytes.get(), used);
    d.bytes = std::move(larger);
    d.capacity = capacity;
    d.pub.next_output_byte = d.bytes.get() + used;
    d.pub.free_in_buffer = capacity - used;
}

void onEnd(j_compress_ptr info) {
    Destination& d = destination(info);
    d.size = d.capacity - d.pub.free_in_buffer;
}

// Wraps the entropy coder's call for each block, for keepBlocks(). A grey picture's unit of coding
// is a single block.
struct BlockKeeper {
    std::vector<std::int16_t>* blocks = nullptr;
    boolean (*encode)(j_compress_ptr, JBLOCKROW*) = nullptr;
};

boolean keepAndEncode(j_compress_ptr info, JBLOCKROW* unit) {
    auto& keeper = *static_cast<BlockKeeper*>(info->client_data);
    try {
        keeper.blocks->insert(keeper.blocks->end(), unit[0][0], unit[0][0] + DCTSIZE2);
    } catch (...) {
        info->err->msg_code = JERR_OUT_OF_MEMORY;  // no exception may cross libjpeg
        info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
    }
    return keeper.encode(info, unit);
}

}  // namespace

struct JpegEncoder::State {
    ErrorManager errors;
    Destination out;
    jpeg_compress_struct info{};
    bool created = false;
    // The encoder takes the rows as they are, 8 at a time (libjpeg's own input path copies them a
    // byte at a time first). A group of 8 that does not come whole from one call, or whose
    // blocks run past the picture's right edge, is gathered here, filled out as libjpeg's input
    // path fills it: the last column repeated to the block's edge, then the last row.
    std::vector<std::uint8_t> group;  // 8 rows of `across` bytes
    std::size_t across = 0;           // the picture's width in whole blocks, in bytes
    int held = 0;                     // rows in `group`
    int taken = 0;                    // rows given to the encoder or held
    BlockKeeper keeper;

    ~State() {
        if (created) {
            jpeg_destroy_compress(&info);
        }
    }
};

JpegEncoder::JpegEncoder(int quality) : quality_(quality), state_(std::make_unique<State>()) {
    State& s = *state_;
    s.info.err = jpeg_std_error(&s.errors.pub);
    s.errors.pub.error_exit = onError;
    s.errors.pub.emit_message = onMessage;
    s.out.pub.init_destination = onStart;
    s.out.pub.empty_output_buffer = onFull;
    s.out.pub.term_destination = onEnd;
    if (setjmp(s.errors.jump) != 0) {
        fail(SaveStatus::EncoderUnavailable);
    }
    jpeg_create_compress(&s.info);
    s.created = true;
    s.info.dest = &s.out.pub;
}

JpegEncoder::~JpegEncoder() = default;

void JpegEncoder::fail(SaveStatus status) {
    failed_ = true;
    RaiseSaveFailure(status);
}

void JpegEncoder::begin(int width, int height) {
    if (width <= 0 || height <= 0 || quality_ < 1 || quality_ > 100) {
        fail(SaveStatus::InvalidParameter);
    }
    State& s = *state_;
    // Room for a typical result at once: line art takes well under a byte a pixel.
    s.out.capacity =
        std::max<std::size_t>(std::size_t(64) << 10, static_cast<std::size_t>(width) * height / 8);
    s.out.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(s.out.capacity);
    if (setjmp(s.errors.jump) != 0) {
        fail(SaveStatus::EncodingFailed);
    }
    jpeg_abort_compress(&s.info);  // a picture begun before is dropped
    s.info.image_width = static_cast<JDIMENSION>(width);
    s.info.image_height = static_cast<JDIMENSION>(height);
    s.info.input_components = 1;
    s.info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&s.info);
    // Otherwise libjpeg's defaults, its accurate integer transform among them: the fast one
    // costs up to 2 dB at quality 95 for some 5 % less time.
    jpeg_set_quality(&s.info, quality_, TRUE);
    jpeg_set_colorspace(&s.info, JCS_GRAYSCALE);
    s.info.raw_data_in = TRUE;
    s.across = (static_cast<std::size_t>(width) + DCTSIZE - 1) / DCTSIZE * DCTSIZE;
    s.group.resize(s.across * DCTSIZE);
    s.held = 0;
    s.taken = 0;
    jpeg_start_compress(&s.info, TRUE);
    if (kept_ != nullptr) {
        // The coder's call for each block is set by now, once for the pass.
        s.keeper = {kept_, s.info.entropy->encode_mcu};
        s.info.client_data = &s.keeper;
        s.info.entropy->encode_mcu = keepAndEncode;
    }
    writeCarried();
}

// The Exif and XMP segments, after libjpeg's JFIF segment: where readers look for them. Copied
// into the output whole, as libjpeg would write them (its marker writer takes a call a byte, which
// cost a thumbnail more than reading its capture data); the file's header is all it has written
// before them.
void JpegEncoder::writeCarried() {
    State& s = *state_;
    const auto segment = [&](std::string_view name, const std::string& body) {
        const std::size_t length = 2 + name.size() + body.size();  // the length counts itself
        if (body.empty() || length > 0xFFFF) {
            return;
        }
        reserve(s.out, 2 + length);
        std::uint8_t* at = s.out.pub.next_output_byte;
        at[0] = 0xFF;
        at[1] = JPEG_APP0 + 1;
        at[2] = static_cast<std::uint8_t>(length >> 8);
        at[3] = static_cast<std::uint8_t>(length & 0xFF);
        std::memcpy(at + 4, name.data(), name.size());
        std::memcpy(at + 4 + name.size(), body.data(), body.size());
        s.out.pub.next_output_byte += 2 + length;
        s.out.pub.free_in_buffer -= 2 + length;
    };
    segment(std::string_view("Exif\0\0", 6), carried_.exif);
    segment(std::string_view("http://ns.adobe.com/xap/1.0/\0", 29), carried_.xmp);
}

void JpegEncoder::take(const std::uint8_t* rows, std::ptrdiff_t stride, int count) {
    State& s = *state_;
    const int width = static_cast<int>(s.info.image_width);
    const int height = static_cast<int>(s.info.image_height);
    count = std::min(count, height - s.taken);  // rows past the last are not the picture's
    JSAMPROW pointers[DCTSIZE];
    for (int done = 0; done < count;) {
        if (s.held == 0 && count - done >= DCTSIZE && std::size_t(width) == s.across) {
            for (int k = 0; k < DCTSIZE; ++k) {
                pointers[k] = const_cast<JSAMPROW>(rows + stride * (done + k));
            }
            write(pointers);
            done += DCTSIZE;
            s.taken += DCTSIZE;
            continue;
        }
        std::uint8_t* into = s.group.data() + std::size_t(s.held) * s.across;
        const std::uint8_t* from = rows + stride * done;
        std::memcpy(into, from, std::size_t(width));
        std::memset(into + width, from[width - 1], s.across - std::size_t(width));
        ++s.held;
        ++done;
        ++s.taken;
        if (s.held < DCTSIZE && s.taken < height) {
            continue;
        }
        for (int k = 0; k < DCTSIZE; ++k) {
            pointers[k] = s.group.data() + std::size_t(std::min(k, s.held - 1)) * s.across;
        }
        write(pointers);
        s.held = 0;
    }
}

void JpegEncoder::write(std::uint8_t** rows) {
    State& s = *state_;
    if (setjmp(s.errors.jump) != 0) {
        fail(SaveStatus::EncodingFailed);
    }
    JSAMPARRAY component = rows;
    jpeg_write_raw_data(&s.info, &component, DCTSIZE);
}

std::span<const std::uint8_t> JpegEncoder::written() const {
    const Destination& d = state_->out;
    return {d.bytes.get(), d.capacity - d.pub.free_in_buffer};
}

EncodedBytes JpegEncoder::finish() {
    State& s = *state_;
    if (setjmp(s.errors.jump) != 0) {
        fail(SaveStatus::EncodingFailed);
    }
    jpeg_finish_compress(&s.info);
    return EncodedBytes(std::move(s.out.bytes), s.out.size);
}
