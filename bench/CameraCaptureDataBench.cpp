// What carrying a camera's capture data costs a conversion. Thumbnails 320 pixels wide of the
// bench photographs, and the photographs themselves, are given what cameras write: an Exif block
// with a maker note of Nikon, Canon, Olympus or Sony shape (made by exiv2 from the tags set here),
// GPS, an XMP packet of about 10 KB and a colour profile. Each is converted in memory (decode,
// filter, encode, a band at a time) with its capture data carried and without, alternating
// picture by picture; each round's totals, their medians and spread, and the ratio are printed,
// and the ratio of the instructions the processor counted for each way, which no other work on
// the machine changes.
//
//     build/bench/camera_capture_data_bench [conversions a round, 2000] [rounds, 3] [folder]
//
// Then, as a TIFF or camera raw file keeps them, each maker's Exif block taken as a file of its
// own: its capture data made in one walk, and by exiv2's decoding and encoding (as such files had
// it).
//
// Given a folder, it writes the tagged thumbnails and photographs there too
// (bench/capture-data-runs converts them with tonvaler-cli).
#include "engine/FilterWhileDecoding.h"
#include "engine/PictureLoader.h"
#include "engine/formats/CaptureData.h"
#include "engine/formats/PictureFormat.h"
#include "engine/output/JpegEncoder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>

#include <linux/perf_event.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

struct Maker {
    const char* make;
    const char* model;
    std::vector<std::pair<const char*, const char*>> notes;  // maker note keys and values
};

const std::vector<Maker>& makers() {
    static const std::vector<Maker> all = {
        {"NIKON CORPORATION",
         "NIKON D750",
         {{"Exif.Nikon3.Quality", "FINE"},
          {"Exif.Nikon3.WhiteBalance", "AUTO1"},
          {"Exif.Nikon3.Focus", "AF-S"},
          {"Exif.Nikon3.ISOSelection", "AUTO"},
          {"Exif.Nikon3.SerialNumber", "3012345"},
          {"Exif.Nikon3.ShutterCount", "12345"},
          {"Exif.Nikon3.ImageDataSize", "6000000"},
          {"Exif.Nikon3.ActiveDLighting", "1"}}},
        {"Canon",
         "Canon EOS 5D Mark IV",
         {{"Exif.Canon.ImageType", "Canon EOS 5D Mark IV"},
          {"Exif.Canon.FirmwareVersion", "Firmware Version 1.0.4"},
          {"Exif.Canon.OwnerName", "A Photographer"},
          {"Exif.Canon.ModelID", "2147484680"},
          {"Exif.Canon.SerialNumber", "123456789"},
          {"Exif.Canon.LensModel", "EF24-70mm f/2.8L II USM"}}},
        {"OLYMPUS IMAGING CORP.",
         "E-M1",
         {{"Exif.Olympus.Quality", "2"},
          {"Exif.Olympus.Macro", "0"},
          {"Exif.Olympus.DigitalZoom", "0/1"},
          {"Exif.Olympus.CameraID", "OLYMPUS DIGITAL CAMERA"},
          {"Exif.Olympus.ImageWidth", "4608"}}},
        {"SONY",
         "ILCE-7M3",
         {{"Exif.Sony1.Quality", "2"},
          {"Exif.Sony1.WhiteBalance", "0"},
          {"Exif.Sony1.LensID", "32784"},
          {"Exif.Sony1.SonyModelID", "306"},
          {"Exif.Sony1.ColorTemperature", "0"},
          {"Exif.Sony1.FocusMode", "0"}}},
    };
    return all;
}

QByteArray jpegOf(const QImage& picture) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG", 90);
    return bytes;
}

// `jpeg` with a camera's capture data of `maker`'s shape.
QByteArray tagged(const QByteArray& jpeg, const Maker& maker) {
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(jpeg.constData()),
                                           static_cast<long>(jpeg.size()));
    image->readMetadata();
    Exiv2::ExifData& exif = image->exifData();
    exif["Exif.Image.Make"] = maker.make;
    exif["Exif.Image.Model"] = maker.model;
    exif["Exif.Image.Orientation"] = std::uint16_t(1);
    exif["Exif.Image.Software"] = "Ver.1.00";
    exif["Exif.Image.DateTime"] = "2024:05:06 07:08:09";
    exif["Exif.Photo.DateTimeOriginal"] = "2024:05:06 07:08:09";
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(28, 10);
    exif["Exif.Photo.ISOSpeedRatings"] = std::uint16_t(200);
    exif["Exif.Photo.FocalLength"] = Exiv2::URational(50, 1);
    exif["Exif.Photo.LensModel"] = "A Lens 50mm F1.8";
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    exif["Exif.GPSInfo.GPSLatitude"] = "48/1 6/1 0/1";
    exif["Exif.GPSInfo.GPSLongitudeRef"] = "E";
    exif["Exif.GPSInfo.GPSLongitude"] = "11/1 30/1 0/1";
    for (const auto& [key, value] : maker.notes) {
        try {
            exif[key] = value;
        } catch (const Exiv2::AnyError&) {
            std::fprintf(stderr, "exiv2 does not know %s\n", key);
            std::exit(1);
        }
    }
    Exiv2::XmpData& xmp = image->xmpData();
    xmp["Xmp.dc.description"] = std::string(10000, 'x');
    xmp["Xmp.tiff.Orientation"] = "1";
    Exiv2::DataBuf icc(3144);
    std::fill_n(icc.pData_, icc.size_, 0);
    icc.pData_[2] = 0x0C;  // its size, 3144, big-endian
    icc.pData_[3] = 0x48;
    std::copy_n("acsp", 4, icc.pData_ + 36);
    image->setIccProfile(icc);
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf all = io.read(static_cast<long>(io.size()));
    return QByteArray(reinterpret_cast<const char*>(all.pData_), all.size_);
}

// The thread's CPU time in seconds: what else runs on a shared machine costs it less than the
// wall clock.
double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The instructions this thread runs in user space, counted by the processor: unlike its time,
// the same however busy the machine is. -1 where the system does not let the program count.
class Instructions {
  public:
    Instructions() {
        perf_event_attr attr{};
        attr.type = PERF_TYPE_HARDWARE;
        attr.size = sizeof attr;
        attr.config = PERF_COUNT_HW_INSTRUCTIONS;
        attr.exclude_kernel = 1;
        attr.exclude_hv = 1;
        fd_ = int(::syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
    }
    ~Instructions() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    long long now() const {
        long long count = -1;
        return fd_ >= 0 && ::read(fd_, &count, sizeof count) == sizeof count ? count : -1;
    }

  private:
    int fd_;
};

const Instructions& instructions() {
    static const Instructions counter;
    return counter;
}

// The CPU seconds of converting `c`, with its capture data carried or not; `counted` gains its
// instructions.
double convertOne(const PictureContent& c, bool carry, long long& counted) {
    const long long before = instructions().now();
    const double start = cpuSeconds();
    JpegEncoder encoder(85);
    if (carry) {
        encoder.carry(FormatOf(c.probe.type)
                          .captureData(c.bytes.span(), static_cast<int>(c.probe.width),
                                       static_cast<int>(c.probe.height)));
    }
    FilterJpegWhileDecoding(c, "bench.jpg", {}, encoder);
    if (encoder.finish().size() == 0) {
        std::abort();
    }
    const double seconds = cpuSeconds() - start;
    counted += instructions().now() - before;
    return seconds;
}

// The Exif block of a JPEG, a TIFF structure.
QByteArray exifOf(const QByteArray& jpeg) {
    const qsizetype at = jpeg.indexOf(QByteArray("Exif\0\0", 6));
    const int length = (quint8(jpeg[at - 2]) << 8 | quint8(jpeg[at - 1])) - 2;
    return jpeg.mid(at + 6, length - 6);
}

// Microseconds of CPU that making the capture data of the TIFF-structured `file` takes, by exiv2
// or in one walk.
double tiffCaptureData(const QByteArray& file, bool byExiv2) {
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(file.constData()),
                          std::size_t(file.size()));
    constexpr int kTimes = 300;
    const double start = cpuSeconds();
    std::size_t made = 0;
    for (int k = 0; k < kTimes; ++k) {
        made += (byExiv2 ? CaptureDataFor(bytes, 320, 213)
                         : FormatOf(PictureType::Tiff).captureData(bytes, 320, 213))
                    .exif.size();
    }
    if (made == 0) {
        std::abort();
    }
    return (cpuSeconds() - start) * 1e6 / kTimes;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int conversions = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : 3);
    const char* given = std::getenv("TONVALER_BENCH_DIR");
    const QDir folder(QString::fromUtf8(given != nullptr ? given : TONVALER_DEFAULT_BENCH_DIR));
    Exiv2::XmpParser::initialize();
    std::vector<PictureContent> thumbnails;
    std::vector<QByteArray> tiffs;  // each maker's Exif block, as a file
    std::vector<PictureContent> photos;
    std::size_t exifBytes = 0;
    for (const char* name : {"bythewater.jpg", "darkesthour.jpg", "honeywave.jpg"}) {
        const QImage photo(folder.filePath(name));
        if (photo.isNull()) {
            std::fprintf(stderr, "cannot read %s in %s\n", name, qPrintable(folder.path()));
            return 1;
        }
        for (const Maker& maker : makers()) {
            const QByteArray small = tagged(jpegOf(photo.scaledToWidth(320)), maker);
            if (tiffs.size() < makers().size()) {
                tiffs.push_back(exifOf(small));
            }
            if (argc > 3) {
                QFile out(QDir(QString::fromUtf8(argv[3]))
                              .filePath(QString("%1-%2").arg(maker.model).arg(name)));
                out.open(QIODevice::WriteOnly);
                out.write(small);
            }
            thumbnails.push_back(
                CheckPicture(PictureBytes({reinterpret_cast<const std::uint8_t*>(small.constData()),
                                           std::size_t(small.size())}),
                             "thumbnail.jpg"));
            exifBytes += FormatOf(thumbnails.back().probe.type)
                             .captureData(thumbnails.back().bytes.span(), 320, 213)
                             .exif.size();
        }
        const QByteArray whole = tagged(jpegOf(photo), makers()[photos.size() % 4]);
        if (argc > 3) {
            QFile out(QDir(QString::fromUtf8(argv[3])).filePath(QString("photo-%1").arg(name)));
            out.open(QIODevice::WriteOnly);
            out.write(whole);
        }
        photos.push_back(
            CheckPicture(PictureBytes({reinterpret_cast<const std::uint8_t*>(whole.constData()),
                                       std::size_t(whole.size())}),
                         "photo.jpg"));
    }
    std::printf("%zu thumbnails (Exif carried: %zu bytes on average), %zu photographs\n",
                thumbnails.size(), exifBytes / thumbnails.size(), photos.size());
    {
        const double start = cpuSeconds();
        std::size_t carried = 0;
        for (int k = 0; k < conversions; ++k) {
            const PictureContent& c = thumbnails[std::size_t(k) % thumbnails.size()];
            carried += FormatOf(c.probe.type)
                           .captureData(c.bytes.span(), static_cast<int>(c.probe.width),
                                        static_cast<int>(c.probe.height))
                           .xmp.size();
        }
        const double seconds = cpuSeconds() - start;
        std::printf("making a thumbnail's capture data alone: %.1f us (%zu bytes of XMP)\n",
                    seconds * 1e6 / conversions, carried / std::size_t(conversions));
    }
    std::printf("%-22s %10s %14s %12s\n", "TIFF", "Exif bytes", "by exiv2 (us)", "walked (us)");
    for (std::size_t m = 0; m < tiffs.size(); ++m) {
        std::vector<double> exiv2;
        std::vector<double> walked;
        for (int r = 0; r < rounds; ++r) {
            exiv2.push_back(tiffCaptureData(tiffs[m], true));
            walked.push_back(tiffCaptureData(tiffs[m], false));
        }
        std::printf("%-22s %10lld %14.1f %12.1f\n", makers()[m].model,
                    static_cast<long long>(tiffs[m].size()), median(exiv2), median(walked));
    }
    std::printf("%-12s %8s %14s %14s %8s %12s\n", "set", "pictures", "carried CPU s",
                "stripped CPU s", "ratio", "instructions");
    for (const auto& [name, set, count] :
         {std::tuple{"thumbnails", &thumbnails, conversions}, {"photographs", &photos, 30}}) {
        std::vector<double> carried;
        std::vector<double> stripped;
        long long carriedInstructions = 0;
        long long strippedInstructions = 0;
        for (int r = 0; r < rounds; ++r) {
            // Alternated picture by picture, each way first in turn, so that what else the
            // machine does falls on both alike.
            double with = 0;
            double without = 0;
            for (int k = 0; k < count; ++k) {
                const PictureContent& c = (*set)[std::size_t(k) % set->size()];
                if (k % 2 == 0) {
                    with += convertOne(c, true, carriedInstructions);
                    without += convertOne(c, false, strippedInstructions);
                } else {
                    without += convertOne(c, false, strippedInstructions);
                    with += convertOne(c, true, carriedInstructions);
                }
            }
            carried.push_back(with);
            stripped.push_back(without);
        }
        std::vector<double> ratios;
        for (int r = 0; r < rounds; ++r) {
            ratios.push_back(carried[std::size_t(r)] / stripped[std::size_t(r)]);
        }
        std::printf("%-12s %8d %6.3f (%.3f-%.3f) %6.3f (%.3f-%.3f) %6.3f (%.3f-%.3f)", name, count,
                    median(carried), *std::min_element(carried.begin(), carried.end()),
                    *std::max_element(carried.begin(), carried.end()), median(stripped),
                    *std::min_element(stripped.begin(), stripped.end()),
                    *std::max_element(stripped.begin(), stripped.end()), median(ratios),
                    *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()));
        if (strippedInstructions > 0) {
            std::printf(" %12.4f\n", double(carriedInstructions) / double(strippedInstructions));
        } else {
            std::printf(" %12s\n", "n/a");
        }
    }
    return 0;
}
