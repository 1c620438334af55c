#include "engine/JpegRoundTrip.h"

#include "base/RuntimeError.h"
#include "engine/output/JpegEncoder.h"

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <thread>
#include <vector>

namespace {

constexpr int kBlock = 8;
constexpr int kStripsPerThread = 4;  // strips run unevenly fast: line art next to sky
constexpr int kLeastStripRows = 64;

struct DecodeErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {};
};

[[noreturn]] void onDecodeError(j_common_ptr info) {
    auto* errors = reinterpret_cast<DecodeErrors*>(info->err);
    info->err->format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Decodes our own encoder's grey file into rows of `into` from `top` on, with libjpeg's defaults
// (the accurate integer transform), as a viewer would.
void decodeInto(const EncodedBytes& file, GreyImage& into, int top) {
    jpeg_decompress_struct info{};
    DecodeErrors errors;
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = onDecodeError;
    jpeg_create_decompress(&info);
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        throw RuntimeError(
            ErrorNumber::InternalError,
            std::string("the preview's JPEG could not be read back: ") + errors.message);
    }
    jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = into.row(top + static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
}

// Bytes before the scan's data: SOI, the tables, the frame and scan headers.
std::uint64_t headerBytes(const EncodedBytes& file) {
    for (std::size_t at = 0; at + 3 < file.size(); ++at) {
        if (file.data()[at] == 0xFF && file.data()[at + 1] == 0xDA) {
            return at + 2 + (std::uint64_t(file.data()[at + 2]) << 8 | file.data()[at + 3]);
        }
    }
    return 0;
}

EncodedBytes encode(const GreyImage& picture, const QRect& part, int quality) {
    JpegEncoder encoder(quality);
    encoder.begin(part.width(), part.height());
    encoder.take(picture.row(part.top()) + part.left(), picture.stride(), part.height());
    return encoder.finish();
}

}  // namespace

QRect BlockAligned(const QRect& part, int width, int height) {
    const QRect inside = part.intersected(QRect(0, 0, width, height));
    if (inside.isEmpty()) {
        return {};
    }
    const int left = inside.left() / kBlock * kBlock;
    const int top = inside.top() / kBlock * kBlock;
    const int right = std::min(width, (inside.right() + kBlock) / kBlock * kBlock);
    const int bottom = std::min(height, (inside.bottom() + kBlock) / kBlock * kBlock);
    return QRect(left, top, right - left, bottom - top);
}

JpegRoundTrip RoundTripPart(const GreyImage& picture, const QRect& part, int quality) {
    const QRect aligned = BlockAligned(part, picture.width(), picture.height());
    if (aligned.isEmpty()) {
        return {};
    }
    const EncodedBytes file = encode(picture, aligned, quality);
    JpegRoundTrip result{GreyImage(aligned.width(), aligned.height()), file.size()};
    decodeInto(file, result.pixels, 0);
    return result;
}

JpegRoundTrip RoundTripWhole(const GreyImage& picture, int quality, int threads,
                             const std::atomic<bool>& stop) {
    if (picture.empty()) {
        return {};
    }
    const int blockRows = (picture.height() + kBlock - 1) / kBlock;
    const int wanted = std::max(1, threads) * kStripsPerThread;
    const int stripBlocks =
        std::max(kLeastStripRows / kBlock, (blockRows + wanted - 1) / std::max(1, wanted));
    const int strips = (blockRows + stripBlocks - 1) / stripBlocks;
    JpegRoundTrip result{GreyImage(picture.width(), picture.height()), 0};
    std::vector<std::uint64_t> sizes(static_cast<std::size_t>(strips), 0);
    std::uint64_t header = 0;
    std::atomic<int> next{0};
    std::exception_ptr failure;
    std::atomic<bool> failed{false};
    const auto work = [&] {
        for (int s = next++; s < strips && !stop && !failed; s = next++) {
            try {
                const int top = s * stripBlocks * kBlock;
                const QRect strip(0, top, picture.width(),
                                  std::min(stripBlocks * kBlock, picture.height() - top));
                const EncodedBytes file = encode(picture, strip, quality);
                decodeInto(file, result.pixels, top);
                sizes[static_cast<std::size_t>(s)] = file.size();
                if (s == 0) {
                    header = headerBytes(file);
                }
            } catch (...) {
                if (!failed.exchange(true)) {
                    failure = std::current_exception();
                }
            }
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (int t = 1; t < std::min(threads, strips); ++t) {
            helpers.emplace_back(work);
        }
        work();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    if (stop) {
        return {};
    }
    for (const std::uint64_t size : sizes) {
        result.fileBytes += size;
    }
    // Each strip's file repeats the header and ends with its own two-byte end marker.
    result.fileBytes -= std::uint64_t(strips - 1) * (header + 2);
    return result;
}
