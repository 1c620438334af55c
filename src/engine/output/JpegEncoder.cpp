#include "engine/output/JpegEncoder.h"

#include "engine/output/SaveFailure.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstring>
#include <string_view>

#include <jpeglib.h>
// after jpeglib.h
#include <jerror.h>

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

}  // namespace

struct JpegEncoder::State {
    ErrorManager errors;
    Destination out;
    jpeg_compress_struct info{};
    bool created = false;

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
    jpeg_start_compress(&s.info, TRUE);
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
    constexpr int kChunk = 32;
    JSAMPROW pointers[kChunk];
    for (int done = 0; done < count; done += kChunk) {
        const int n = std::min(kChunk, count - done);
        for (int k = 0; k < n; ++k) {
            pointers[k] = const_cast<JSAMPROW>(rows + stride * (done + k));
        }
        write(pointers, n);
    }
}

void JpegEncoder::write(std::uint8_t** rows, int count) {
    State& s = *state_;
    if (setjmp(s.errors.jump) != 0) {
        fail(SaveStatus::EncodingFailed);
    }
    jpeg_write_scanlines(&s.info, rows, static_cast<JDIMENSION>(count));
}

EncodedBytes JpegEncoder::finish() {
    State& s = *state_;
    if (setjmp(s.errors.jump) != 0) {
        fail(SaveStatus::EncodingFailed);
    }
    jpeg_finish_compress(&s.info);
    return EncodedBytes(std::move(s.out.bytes), s.out.size);
}
