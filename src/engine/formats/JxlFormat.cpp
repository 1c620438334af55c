#include "engine/formats/ByteReading.h"
#include "engine/formats/DecoderThreads.h"
#include "engine/formats/FormatSignatures.h"
#include "engine/formats/InterleavedRows.h"
#include "engine/formats/JxlDecodeWork.h"
#include "engine/formats/JxlHeaders.h"
#include "engine/formats/JxlWorkLimit.h"
#include "engine/formats/LoadFailure.h"
#include "engine/formats/LoadedFormats.h"
#include "engine/formats/Orientation.h"

#include <jxl/decode_cxx.h>

#include <algorithm>
#include <string>
#include <string_view>
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

// The work a file may ask for to make its first picture from several frames, in pixels made
// (each frame's own and the canvas it is blended on): as much as a few big pictures, and more
// with every byte it holds (a layered photo asks for far less than 400 a byte); a frame of a few
// bytes may cover the whole canvas.
constexpr std::uint64_t kMostLayeredPixels = std::uint64_t(400) << 20;
constexpr std::uint64_t kMoreLayeredPixelsPerByte = 400;

void probeJxl(std::span<const std::uint8_t> bytes, PictureProbe& probe) {
    const JxlHeaders h = ReadJxlHeaders(bytes);
    const JxlBasicInfo& info = h.info;
    if (info.xsize == 0) {
        probe.truncation = "the picture is truncated or corrupt (" + h.fault + ")";
        return;
    }
    probe.width = info.xsize;
    probe.height = info.ysize;
    probe.orientation = static_cast<int>(info.orientation);
    probe.components = 3 + static_cast<int>(info.num_extra_channels);
    probe.bitsPerSample = static_cast<int>(info.bits_per_sample);
    probe.jxl.lossy = !info.uses_original_profile;
    probe.jxl.modular = h.modular;
    probe.jxl.noise = h.noise;
    probe.jxl.splines = h.splines;
    if (!h.fault.empty()) {
        probe.truncation = "the picture is truncated or corrupt (" + h.fault + ")";
        return;
    }
    const std::uint64_t canvas = std::uint64_t(info.xsize) * info.ysize;
    probe.jxl.frames = h.frames;
    if (h.unreportedFirst) {
        // Frames of unknown number and size come first: charged as at least one more over the
        // canvas, and every reference slot kept; the decode's time limit stops more of them.
        probe.jxl.layeredPixels = h.framePixels + canvas + std::uint64_t(h.frames + 1) * canvas;
        probe.jxl.largestFrame = std::max(h.largestFrame, canvas);
        probe.jxl.keptCanvases = 4;
    } else if (h.layered) {
        probe.jxl.layeredPixels = h.framePixels + std::uint64_t(h.frames) * canvas;
        probe.jxl.largestFrame = h.largestFrame;
        probe.jxl.keptCanvases = h.keptCanvases;
    }
    if (h.frames > JxlHeaders::kMostFrames) {
        probe.refused = "its first picture is made of more than " +
                        std::to_string(JxlHeaders::kMostFrames) + " frames";
    } else if (probe.jxl.layeredPixels >
               kMostLayeredPixels + kMoreLayeredPixelsPerByte * bytes.size()) {
        probe.refused =
            "its first picture is made of frames that ask for more work than a file "
            "of its size may";
    }
}

// What the decoder may count (JxlWorkLimit), for each frame the headers show and one more: as
// much as eight frames over the canvas in the costliest coding each. A frame its encoder adds
// unreported (the averages of its blocks, a source of patches) counts as a frame and its tasks.
constexpr std::uint64_t kFramesCountedPerFrame = 8;

std::uint64_t mostDecodeTasks(const PictureProbe& p) {
    return std::uint64_t(p.jxl.frames + 1) * kFramesCountedPerFrame *
           JxlFrameTasks(std::uint64_t(p.width), std::uint64_t(p.height));
}

// `threads` 0 takes libjxl's suggestion for the picture's size; `tasks`, when given, is told the
// tasks counted, also when the decode fails.
BgrxImage decodeJxl(std::span<const std::uint8_t> bytes, const PictureProbe& probe,
                    std::size_t threads, const QString& path, std::uint64_t* tasks = nullptr) {
    JxlWorkLimit limit(JxlFrameTasks(std::uint64_t(probe.width), std::uint64_t(probe.height)),
                       mostDecodeTasks(probe));
    struct Tell {
        const JxlWorkLimit& limit;
        std::uint64_t* to;
        ~Tell() {
            if (to != nullptr) {
                *to = limit.tasks();
            }
        }
    } tell{limit, tasks};
    JxlDecoderPtr decoder = JxlDecoderMake(nullptr);  // after the runner, so that it goes first
    if (!decoder) {
        throw std::bad_alloc();
    }
    JxlDecoder* d = decoder.get();
    const auto tooLong = [&] {
        return CannotLoad(path, ErrorNumber::InvalidPicture,
                          "the JPEG XL file would take too long to decode (its frames ask for "
                          "more work than its headers state)");
    };
    if (JxlDecoderSubscribeEvents(d, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetParallelRunner(d, JxlWorkLimit::Run, &limit) != JXL_DEC_SUCCESS ||
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
        if (limit.exceeded()) {
            throw tooLong();
        }
        if (status == JXL_DEC_BASIC_INFO) {
            if (JxlDecoderGetBasicInfo(d, &info) != JXL_DEC_SUCCESS) {
                throw failure(path, whyStopped(JXL_DEC_ERROR));
            }
            const bool turned = SwapsSides(static_cast<int>(info.orientation));
            CheckPictureSize(path, turned ? info.ysize : info.xsize,
                             turned ? info.xsize : info.ysize);
            width = static_cast<int>(turned ? info.ysize : info.xsize);
            height = static_cast<int>(turned ? info.xsize : info.ysize);
            const std::size_t suggested =
                JxlResizableParallelRunnerSuggestThreads(info.xsize, info.ysize);
            const int lent = ThreadsLentHere();
            limit.setThreads(threads != 0 ? threads
                             : lent == kAsTheDecoderWould
                                 ? suggested
                                 : std::min<std::size_t>(suggested, std::size_t(lent) + 1));
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
    decoder.reset();  // its frames and planes let go before our picture is made
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

// The Exif and xml boxes of a JPEG XL container (a bare codestream has none). The Exif box
// begins with the offset of its TIFF header; boxes compressed with Brotli are not unpacked.
CaptureData jxlCaptureData(std::span<const std::uint8_t> b, int width, int height) {
    using namespace bytes;
    std::span<const std::uint8_t> exif;
    std::string_view xmp;
    std::string compressed;
    for (std::uint64_t at = 0; at + 8 <= b.size();) {
        std::uint64_t size = be32(b, at);
        std::uint64_t header = 8;
        if (size == 1 && at + 16 <= b.size()) {
            size = std::uint64_t(be32(b, at + 8)) << 32 | be32(b, at + 12);
            header = 16;
        } else if (size == 0) {
            size = b.size() - at;
        }
        if (size < header || size > b.size() - at) {
            break;
        }
        const auto data = b.subspan(at + header, size - header);
        if (startsWith(b, "Exif", 4, at + 4) && exif.empty() && data.size() >= 4) {
            exif = data.subspan(
                std::min<std::uint64_t>(std::uint64_t(be32(data, 0)) + 4, data.size()));
        } else if (startsWith(b, "xml ", 4, at + 4) && xmp.empty()) {
            xmp = {reinterpret_cast<const char*>(data.data()), data.size()};
        } else if (startsWith(b, "brob", 4, at + 4) &&
                   (startsWith(data, "Exif", 4) || startsWith(data, "xml ", 4))) {
            compressed = "its capture data is compressed (brob), which is not unpacked";
        }
        at += size;
    }
    CaptureData data = CaptureDataOf(exif, xmp, width, height);
    if (!compressed.empty()) {
        data.leftOut += (data.leftOut.empty() ? "" : "; ") + compressed;
    }
    return data;
}

class Jxl final : public PictureFormat {
  public:
    PictureType type() const override { return PictureType::Jxl; }
    const char* name() const override { return "JPEG XL"; }
    bool claims(Bytes head) const override { return ClaimsJxl(head); }
    void probe(Bytes bytes, PictureProbe& p) const override { probeJxl(bytes, p); }
    CaptureData captureData(Bytes bytes, int width, int height) const override {
        return jxlCaptureData(bytes, width, height);
    }
    std::string refusal(const PictureProbe& p) const override {
        if (p.truncation.empty() && !p.refused.empty()) {
            return "the JPEG XL file would take too long to decode (" + p.refused + ")";
        }
        return PictureFormat::refusal(p);
    }
    bool statesOrientation() const override { return true; }
    std::uint64_t workingBytes(const PictureProbe& p) const override {
        // Measured at their peak in a batch (a converting child of the contract test, on busy
        // 12 MP pictures and its costly files), with some room.
        const PictureProbe::Jxl& j = p.jxl;
        const std::uint64_t pixels = ChargedPixels(p);
        const std::uint64_t extra = std::uint64_t(std::max(p.components - 3, 0));
        const bool deep = p.bitsPerSample > 8;
        if (j.layeredPixels > 0) {
            // Every frame is decoded and blended in floats, 4 bytes a channel: the colour of the
            // frame, of the canvas it is blended on and of each canvas kept for later frames (two
            // more with noise), the extra channels several times more; the output and ours; the
            // decoder's buffers for groups of pixels; and a frame reaching beyond the canvas
            // decoded whole. Measured: 52 bytes a pixel with one canvas kept, up to 60 when many
            // small frames are blended in turn, 81 with four kept, 144 with three extra
            // channels, 91 with two kept and noise.
            const std::uint64_t kept = std::uint64_t(j.keptCanvases);
            const std::uint64_t canvases = 4 + kept + (j.noise ? 2 : 0);
            return pixels * (12 * canvases + 4 * extra * (7 + kept) + 12) + 4 * j.largestFrame +
                   (std::uint64_t(16) << 20);
        }
        // A still of 8 bits in VarDCT is decoded straight into its output unless it has extra
        // channels (measured 12; 15 with noise; 48 with alpha, 170 with ten), a lossless one even
        // with them (8.8, 11.3 with alpha); a deeper one, or one lossy in the modular mode, in
        // floats first (VarDCT 26.6, 69 with alpha; lossless 36, 48 with alpha, 117 with ten;
        // lossy modular 32 to 39, 50 at 16 bits, 51 with alpha).
        const std::uint64_t noise = j.noise ? 8 : 0;
        if (j.modular && j.lossy) {
            return pixels * ((deep ? 64 : 48) + 12 * extra + noise);
        }
        if (j.modular && !deep) {
            return pixels * (12 + 2 * extra + noise);
        }
        const std::uint64_t base = !deep ? 14 : j.modular ? 40 : 30;
        const std::uint64_t perExtra = !deep ? 18 : j.modular ? 9 : 20;
        const std::uint64_t anyExtra = extra == 0 ? 0 : !deep ? 24 : j.modular ? 8 : 24;
        return pixels * (base + perExtra * extra + anyExtra + noise);
    }
    double nanosPerPixel(const PictureProbe& p) const override {
        // Measured (all threads): a lossy photo 61, a busy lossy picture 95, a busy lossless one
        // 250, 284 at 16 bits, lossy in the modular mode 213 to 340; more with every extra
        // channel, and with every frame blended. Splines may be drawn over 16 times the
        // picture's area (libjxl's bound).
        const PictureProbe::Jxl& j = p.jxl;
        const bool deep = p.bitsPerSample > 8;
        const double coded = !j.modular ? (deep ? 60 : 50) : j.lossy ? 150 : (deep ? 150 : 110);
        const double perPixel =
            coded * std::max(p.components, 3) / 3.0 + (j.noise ? 10 : 0) + (j.splines ? 100 : 0);
        const double pixels = double(p.width) * double(p.height);
        return j.layeredPixels > 0 && pixels > 0 ? perPixel * double(j.layeredPixels) / pixels
                                                 : perPixel;
    }
    BgrxImage decode(Bytes bytes, const PictureProbe& p, const QString& path) const override {
        return decodeJxl(bytes, p, 0, path);
    }
};

}  // namespace

const PictureFormat& LoadedJxlFormat() {
    static const Jxl format;
    return format;
}

JxlDecodeWork MeasureJxlDecodeWork(std::span<const std::uint8_t> bytes, std::size_t threads) {
    JxlDecodeWork work;
    PictureProbe probe;
    probe.type = PictureType::Jxl;
    probeJxl(bytes, probe);
    work.budget = mostDecodeTasks(probe);
    const std::string refused = LoadedJxlFormat().refusal(probe);
    if (!refused.empty()) {
        work.failure = refused;
        return work;
    }
    try {
        decodeJxl(bytes, probe, threads, QStringLiteral("measured.jxl"), &work.tasks);
    } catch (const RuntimeError& e) {
        work.failure = e.description();
    }
    return work;
}
