#include "engine/formats/ByteReading.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/InterleavedRows.h"
#include "engine/formats/LoadFailure.h"
#include "engine/formats/Orientation.h"

#include <jxl/decode_cxx.h>
#include <jxl/resizable_parallel_runner_cxx.h>

#include <string>
#include <vector>

// JPEG XL files (a bare codestream or in its container) through libjxl, on every core: the first
// frame, turned upright as the file states; pictures of more than 8 bits reduced to 8
// (ToEightBits, from 16); alpha flattened over white. Thread-safe.

namespace {

RuntimeError failure(const QString& path, const std::string& why) {
    return CannotLoad(path, ErrorNumber::InvalidPicture,
                      "the picture is truncated or corrupt (" + why + ")");
}

// Why the decoder stopped. The input is given whole but never closed: a decoder told that no
// more follows prints its complaint on the terminal when it wants more, and wanting more is
// how it says that the file ends early.
std::string whyStopped(JxlDecoderStatus status) {
    return status == JXL_DEC_NEED_MORE_INPUT ? "the file ends before the picture does"
                                             : "the JPEG XL decoder found it corrupt";
}

void probeJxl(std::span<const std::uint8_t> bytes, PictureProbe& probe) {
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    if (!decoder ||
        JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder.get(), bytes.data(), bytes.size()) != JXL_DEC_SUCCESS) {
        return;
    }
    const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
    JxlBasicInfo info{};
    if (status != JXL_DEC_BASIC_INFO ||
        JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS) {
        probe.truncation = "the picture is truncated or corrupt (" + whyStopped(status) + ")";
        return;
    }
    probe.width = info.xsize;
    probe.height = info.ysize;
    probe.orientation = static_cast<int>(info.orientation);
    probe.components = info.alpha_bits > 0 ? 4 : 3;
    probe.bitsPerSample = static_cast<int>(info.bits_per_sample);
}

BgrxImage decodeJxl(std::span<const std::uint8_t> bytes, const QString& path) {
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    const JxlResizableParallelRunnerPtr runner = JxlResizableParallelRunnerMake(nullptr);
    if (!decoder || !runner) {
        throw std::bad_alloc();
    }
    JxlDecoder* d = decoder.get();
    if (JxlDecoderSubscribeEvents(d, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetParallelRunner(d, JxlResizableParallelRunner, runner.get()) !=
            JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(d, bytes.data(), bytes.size()) != JXL_DEC_SUCCESS ||
        // Alpha comes straight, as the flattening over white takes it.
        JxlDecoderSetUnpremultiplyAlpha(d, JXL_TRUE) != JXL_DEC_SUCCESS) {
        throw failure(path, "the JPEG XL decoder could not start");
    }
    JxlBasicInfo info{};
    JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(d);
        if (status == JXL_DEC_BASIC_INFO) {
            if (JxlDecoderGetBasicInfo(d, &info) != JXL_DEC_SUCCESS) {
                throw failure(path, whyStopped(JXL_DEC_ERROR));
            }
            const bool turned = SwapsSides(static_cast<int>(info.orientation));
            CheckPictureSize(path, turned ? info.ysize : info.xsize,
                             turned ? info.xsize : info.ysize);
            width = static_cast<int>(turned ? info.ysize : info.xsize);
            height = static_cast<int>(turned ? info.xsize : info.ysize);
            JxlResizableParallelRunnerSetThreads(
                runner.get(), JxlResizableParallelRunnerSuggestThreads(info.xsize, info.ysize));
            format.num_channels = info.alpha_bits > 0 ? 4 : 3;
            format.data_type = info.bits_per_sample > 8 ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8;
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            std::size_t size = 0;
            if (JxlDecoderImageOutBufferSize(d, &format, &size) != JXL_DEC_SUCCESS) {
                throw failure(path, whyStopped(JXL_DEC_ERROR));
            }
            pixels.resize(size);
            if (JxlDecoderSetImageOutBuffer(d, &format, pixels.data(), size) != JXL_DEC_SUCCESS) {
                throw failure(path, whyStopped(JXL_DEC_ERROR));
            }
        } else if (status == JXL_DEC_FULL_IMAGE) {
            break;  // the first frame of an animation is the picture
        } else {
            // SUCCESS before a frame, ERROR, or more input wanted after all of it was given.
            throw failure(path, whyStopped(status));
        }
    }
    const InterleavedLayout layout{static_cast<int>(format.num_channels),
                                   format.data_type == JXL_TYPE_UINT16 ? 16 : 8};
    const std::size_t rowBytes =
        std::size_t(width) * format.num_channels * (format.data_type == JXL_TYPE_UINT16 ? 2 : 1);
    if (pixels.size() < rowBytes * std::size_t(height)) {
        throw failure(path, "the JPEG XL decoder gave fewer pixels than the picture has");
    }
    BgrxImage picture(width, height);
    for (int y = 0; y < height; ++y) {
        PutInterleavedRow(picture, y, pixels.data() + rowBytes * std::size_t(y), layout);
    }
    return picture;
}

class Jxl final : public PictureFormat {
  public:
    PictureType type() const override { return PictureType::Jxl; }
    const char* name() const override { return "JPEG XL"; }
    bool claims(Bytes head) const override {
        using namespace bytes;
        return startsWith(head, "\xFF\x0A", 2) || startsWith(head, "\0\0\0\x0CJXL \r\n\x87\n", 12);
    }
    void probe(Bytes bytes, PictureProbe& p) const override { probeJxl(bytes, p); }
    bool statesOrientation() const override { return true; }
    std::uint64_t workingBytes(const PictureProbe& p) const override {
        // The decoder's output (9.5 measured at 16 bits) and ours.
        return (2 + 12) * ChargedPixels(p);
    }
    double nanosPerPixel(const PictureProbe&) const override {
        return 80;  // measured: 54 lossy, 97 lossless
    }
    BgrxImage decode(Bytes bytes, const PictureProbe&, const QString& path) const override {
        return decodeJxl(bytes, path);
    }
};

}  // namespace

const PictureFormat& JxlFormat() {
    static const Jxl format;
    return format;
}
