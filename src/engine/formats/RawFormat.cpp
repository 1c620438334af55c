#include "engine/formats/ByteReading.h"
#include "engine/formats/CaptureData.h"
#include "engine/formats/DecoderThreads.h"
#include "engine/formats/DngRawLayout.h"
#include "engine/formats/FormatSignatures.h"
#include "engine/formats/InterleavedRows.h"
#include "engine/formats/JpegDecoder.h"
#include "engine/formats/LibRawHazards.h"
#include "engine/formats/LoadFailure.h"
#include "engine/formats/LoadedFormats.h"
#include "engine/formats/RawDataStream.h"
#include "engine/formats/TiffDirectory.h"
#include "filter/BlackWhiteFilter.h"

#include <libraw/libraw.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// Camera raw files (DNG, CR2, CR3, NEF, ARW, RAF, ORF, RW2) through LibRaw: the whole sensor
// picture, demosaiced with LibRaw's default processing (AHD interpolation, the camera's daylight
// colour balance, sRGB, 8 bits, its automatic brightness), turned upright as the file states;
// never the thumbnail a raw file carries. Thread-safe (the reentrant library).

namespace {

// The sensor may hold more pixels than the picture shows (masked borders), but not many more.
constexpr long long kMostSensorPixels = 2LL * kFilterMaxWidth * kFilterMaxHeight;

struct FreeProcessed {
    void operator()(libraw_processed_image_t* p) const { LibRaw::dcraw_clear_mem(p); }
};

// What LibRaw's decoder of each kind of DNG sensor data is called (its own names).
const char* decoderOf(std::uint32_t compression) {
    return compression == 1   ? "packed_dng_load_raw()"
           : compression == 7 ? "lossless_dng_load_raw()"
                              : "lossy_dng_load_raw()";
}

bool sameName(const char* a, const char* b) {
    return a != nullptr && std::strcmp(a, b) == 0;
}

// One LibRaw over one file's bytes, which must outlive it. Data errors (the library goes on
// over missing or bad data, filling in zeros) are kept, to fail the picture. A DNG's sensor data
// is read and checked first (DngRawLayout), and given to LibRaw's decoder from where it is
// (RawDataStream), so that it decodes every strip and tile the directory states and nothing
// else.
class Raw {
  public:
    // `sizesOnly`: the sizes are worked out as the processing would, and nothing more can be
    // done with it.
    Raw(std::span<const std::uint8_t> bytes, bool sizesOnly) : raw_(std::make_unique<LibRaw>(0)) {
        raw_->set_dataerror_handler(&Raw::onDataError, this);
        corrupt_ = LibRawHazard(bytes);
        if (!corrupt_.empty()) {
            return;
        }
        dng_ = TiffDirectory(bytes).has(50706);  // DNGVersion
        if (dng_) {
            layout_ = ReadDngRawLayout(bytes);
            corrupt_ = layout_.found ? layout_.fault : "no directory holds its sensor data";
            unsupported_ = layout_.unsupported;
            if (!corrupt_.empty() || !unsupported_.empty()) {
                return;
            }
            stream_ = std::make_unique<RawDataStream>(bytes);
            opened_ = raw_->open_datastream(stream_.get());
        } else {
            // LibRaw reads the buffer only; its interface is older than const.
            opened_ = raw_->open_buffer(const_cast<std::uint8_t*>(bytes.data()), bytes.size());
        }
        if (opened_ != LIBRAW_SUCCESS) {
            return;
        }
        checkDng();
        if (sizesOnly && corrupt_.empty()) {
            opened_ = raw_->adjust_sizes_info_only();
        }
    }

    // Why it cannot be read so far; "" when it can.
    std::string error(int code) const {
        if (!corrupt_.empty()) {
            return corrupt_;
        }
        if (code != LIBRAW_SUCCESS) {
            return LibRaw::strerror(code);
        }
        return dataError_;
    }
    // A DNG whose sensor data is stored in a way that is not read; "" otherwise.
    const std::string& unsupported() const { return unsupported_; }
    // A DNG's sensor data as checked; none for other raw files.
    const DngRawLayout* dngLayout() const { return dng_ ? &layout_ : nullptr; }
    int opened() const { return unsupported_.empty() && corrupt_.empty() ? opened_ : -1; }
    LibRaw& operator*() { return *raw_; }
    LibRaw* operator->() { return raw_.get(); }
    // The picture's size as the processing will make it, upright (once the sizes are worked
    // out), or as the sensor's visible part is, unturned.
    long long width() const { return raw_->imgdata.sizes.iwidth; }
    long long height() const { return raw_->imgdata.sizes.iheight; }
    // What the decoder makes of the sensor's data: 16 bits a sample of a colour filter array,
    // four samples a pixel otherwise.
    std::uint64_t sensorBytes() const {
        const libraw_image_sizes_t& s = raw_->imgdata.sizes;
        const bool mosaic = raw_->imgdata.idata.filters != 0 || raw_->imgdata.idata.colors == 1;
        return std::uint64_t(std::max<unsigned>(s.raw_width, s.width + s.left_margin)) *
               (std::max<unsigned>(s.raw_height, s.height + s.top_margin) + 8) * (mosaic ? 2 : 8);
    }

    // LibRaw's unpacking of the sensor data; a DNG's from where its layout keeps it, every
    // piece of it read.
    int unpack() {
        if (dng_) {
            unpacker_data_t& u = raw_->get_internal_data_pointer()->unpacker_data;
            if (layout_.compression == 1) {
                u.data_offset = INT64(stream_->appendRows(layout_));
            } else {
                // JPEG strips too, as tiles as wide as the picture.
                u.data_offset = INT64(stream_->appendOffsets(layout_, u.order == 0x4D4D));
                u.tile_width = layout_.pieceWidth;
                u.tile_length = layout_.pieceLength;
            }
        }
        const int code = raw_->unpack();
        if (code == LIBRAW_SUCCESS && dng_ && !stream_->readToTheEnd() && dataError_.empty()) {
            dataError_ = "its sensor data was not all decoded";
        }
        return code;
    }

  private:
    // LibRaw decodes a DNG as its layout was checked: the same size, samples, compression and
    // decoder (or it is no DNG of ours to decode).
    void checkDng() {
        const unsigned version = raw_->imgdata.idata.dng_version;
        if (!dng_) {
            if (version != 0) {
                corrupt_ = "a DNG whose first directory does not say so";
            }
            return;
        }
        const unpacker_data_t& u = raw_->get_internal_data_pointer()->unpacker_data;
        const libraw_image_sizes_t& s = raw_->imgdata.sizes;
        if (version == 0 || s.raw_width != layout_.width || s.raw_height != layout_.height ||
            u.tiff_bps != layout_.bitsPerSample || u.tiff_samples != layout_.samplesPerPixel ||
            u.tiff_compress != layout_.compression ||
            !sameName(raw_->unpack_function_name(), decoderOf(layout_.compression))) {
            corrupt_ = "its sensor data is not the one its raw directory states";
        }
    }

    static void onDataError(void* self, const char*, const int offset) {
        auto* raw = static_cast<Raw*>(self);
        if (raw->dataError_.empty()) {
            raw->dataError_ = offset < 0 ? "the file ends before the picture does"
                                         : "bad data at byte " + std::to_string(offset);
        }
    }

    std::unique_ptr<LibRaw> raw_;
    bool dng_ = false;
    DngRawLayout layout_;
    std::unique_ptr<RawDataStream> stream_;  // a DNG's, which LibRaw reads while it lives
    int opened_ = LIBRAW_SUCCESS;
    std::string corrupt_;
    std::string unsupported_;
    std::string dataError_;
};

RuntimeError failure(const QString& path, const std::string& why) {
    return CannotLoad(path, ErrorNumber::InvalidPicture,
                      "the picture is truncated or corrupt (" + why + ")");
}

// Each lossy JPEG strip or tile of a DNG decoded once by our own JPEG decoder, with its bounds and
// its strictness, before LibRaw's: LibRaw's libjpeg goes on over damaged data, printing warnings,
// and leaks its decoder when a header is bad. Only pieces that decode whole go on.
void checkLossyPieces(std::span<const std::uint8_t> bytes, const DngRawLayout& layout,
                      const QString& path) {
    constexpr int kRows = 16;
    for (std::size_t k = 0; k < layout.pieces.size(); ++k) {
        const TiffPiece& piece = layout.pieces[k];
        try {
            DecodeJpeg(bytes.data() + piece.offset, piece.bytes, path, [](JpegDecoder& decoder) {
                std::vector<std::uint8_t> scratch(std::size_t(4) * decoder.width() * kRows);
                std::uint8_t* rows[kRows];
                for (int r = 0; r < kRows; ++r) {
                    rows[r] = scratch.data() + std::size_t(4) * decoder.width() * r;
                }
                while (decoder.rowsRead() < decoder.height()) {
                    decoder.readRows(rows, kRows);
                }
                return 0;
            });
        } catch (const RuntimeError& e) {
            // The decoder names the file; the piece is named here.
            const std::string named = "Cannot load " + path.toStdString() + ": ";
            const std::string& said = e.description();
            throw CannotLoad(path, e.number(),
                             "its sensor data's " + std::string(layout.tiled ? "tile " : "strip ") +
                                 std::to_string(k) + " of lossy JPEG: " +
                                 (said.rfind(named, 0) == 0 ? said.substr(named.size()) : said));
        }
    }
}

void probeRaw(std::span<const std::uint8_t> bytes, PictureProbe& probe) {
    try {
        Raw raw(bytes, true);
        if (!raw.unsupported().empty()) {
            probe.refused = raw.unsupported();
            return;
        }
        if (raw.opened() != LIBRAW_SUCCESS) {
            probe.truncation =
                "the picture is truncated or corrupt (" + raw.error(raw.opened()) + ")";
            return;
        }
        probe.width = raw.width();
        probe.height = raw.height();
        probe.components = 3;
        probe.sensorBytes = raw.sensorBytes();
    } catch (const std::bad_alloc&) {
        // The size stays unknown: the loader charges the most and decoding says what is wrong.
    }
}

// LibRaw's demosaicing runs on OpenMP's threads, as many as there are cores, for every thread
// that calls it: for this thread, those lent it and its own, while it lives. OpenMP is LibRaw's
// own (looked up, not linked), where it has one.
class OpenMpThreads {
  public:
    OpenMpThreads() {
        const int lent = ThreadsLentHere();
        if (lent != kAsTheDecoderWould && get_ != nullptr && set_ != nullptr) {
            before_ = get_();
            set_(lent + 1);
        }
    }
    ~OpenMpThreads() {
        if (before_ > 0) {
            set_(before_);
        }
    }
    OpenMpThreads(const OpenMpThreads&) = delete;
    OpenMpThreads& operator=(const OpenMpThreads&) = delete;

  private:
    using Get = int (*)();
    using Set = void (*)(int);
    static inline const Get get_ =
        reinterpret_cast<Get>(::dlsym(RTLD_DEFAULT, "omp_get_max_threads"));
    static inline const Set set_ =
        reinterpret_cast<Set>(::dlsym(RTLD_DEFAULT, "omp_set_num_threads"));
    int before_ = 0;
};

BgrxImage decodeRaw(std::span<const std::uint8_t> bytes, const QString& path) {
    const OpenMpThreads threads;
    Raw raw(bytes, false);
    if (!raw.unsupported().empty()) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture,
                         "the picture is not supported (" + raw.unsupported() + ")");
    }
    if (raw.opened() != LIBRAW_SUCCESS) {
        throw failure(path, raw.error(raw.opened()));
    }
    const libraw_image_sizes_t& sizes = raw->imgdata.sizes;
    const bool turned = (sizes.flip & 4) != 0;
    CheckPictureSize(path, turned ? sizes.height : sizes.width,
                     turned ? sizes.width : sizes.height);
    if (static_cast<long long>(sizes.raw_width) * sizes.raw_height > kMostSensorPixels) {
        throw CannotLoad(path, ErrorNumber::OutOfMemory,
                         "the camera's sensor data is " + std::to_string(sizes.raw_width) + " x " +
                             std::to_string(sizes.raw_height) + " pixels, too many");
    }
    if (const DngRawLayout* dng = raw.dngLayout(); dng != nullptr && dng->compression == 34892) {
        checkLossyPieces(bytes, *dng, path);
    }
    int code = raw.unpack();
    if (code == LIBRAW_SUCCESS && raw.error(code).empty()) {
        code = raw->dcraw_process();
    }
    if (!raw.error(code).empty()) {
        throw failure(path, raw.error(code));
    }
    code = LIBRAW_SUCCESS;
    const std::unique_ptr<libraw_processed_image_t, FreeProcessed> image(
        raw->dcraw_make_mem_image(&code));
    if (!image || code != LIBRAW_SUCCESS) {
        throw failure(path, LibRaw::strerror(code));
    }
    if (image->type != LIBRAW_IMAGE_BITMAP || image->colors != 3 ||
        (image->bits != 8 && image->bits != 16)) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture,
                         "the picture is not supported (a raw file LibRaw makes no colour "
                         "picture of)");
    }
    CheckPictureSize(path, image->width, image->height);
    // The sensor's data and LibRaw's working picture go before ours comes.
    raw->recycle();
    const InterleavedLayout layout{3, image->bits};
    const std::size_t rowBytes = std::size_t(image->width) * 3 * (image->bits / 8);
    BgrxImage picture(image->width, image->height);
    for (int y = 0; y < picture.height(); ++y) {
        PutInterleavedRow(picture, y, image->data + rowBytes * std::size_t(y), layout);
    }
    return picture;
}

// What the probe found the decoder makes of the sensor's data, or as much as the picture's
// pixels make when it did not tell.
std::uint64_t sensorBytesOf(const PictureProbe& p) {
    return p.sensorBytes != 0 ? p.sensorBytes : 2 * ChargedPixels(p);
}

class RawFiles final : public PictureFormat {
  public:
    PictureType type() const override { return PictureType::Raw; }
    const char* name() const override { return "camera raw"; }
    bool claims(Bytes head) const override { return ClaimsRaw(head); }
    void probe(Bytes bytes, PictureProbe& p) const override { probeRaw(bytes, p); }
    bool statesOrientation() const override { return true; }
    std::uint64_t workingBytes(const PictureProbe& p) const override {
        // The sensor's data as decoded, then with it LibRaw's four 16-bit channels a pixel of
        // the picture and its 8-bit output; then that output and ours.
        return sensorBytesOf(p) + (2 + 12) * ChargedPixels(p);
    }
    double nanosPerPixel(const PictureProbe& p) const override {
        // Demosaicing and the colour pipeline, and the sensor's data decoded, which may hold
        // many more pixels than the picture shows.
        return 140 + 10 * double(sensorBytesOf(p)) / double(ChargedPixels(p));
    }
    BgrxImage decode(Bytes bytes, const PictureProbe&, const QString& path) const override {
        return decodeRaw(bytes, path);
    }
    CaptureData captureData(Bytes bytes, int width, int height) const override {
        // The makers' notes as the camera wrote them, where the file keeps them near its start.
        return CaptureDataOfTiffFile(bytes, width, height);
    }
};

}  // namespace

const PictureFormat& LoadedRawFormat() {
    static const RawFiles format;
    return format;
}
