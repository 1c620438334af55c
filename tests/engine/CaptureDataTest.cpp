#include "engine/BatchPaths.h"
#include "engine/ConversionEngine.h"
#include "engine/MemoryBudget.h"
#include "engine/formats/PictureFormat.h"
#include "engine/formats/PictureProbe.h"
#include "engine/output/JpegWriter.h"
#include "support/CameraPictures.h"
#include "support/CaptureDataFiles.h"
#include "support/HeifGrids.h"
#include "support/RunTool.h"
#include "support/TestPictures.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// exiftool, a reader that shares nothing with the writer, over `path`: every tag, as numbers.
QJsonObject readBack(const QString& path) {
    const ToolRun exiftool = RunTool("exiftool", {"-j", "-n", "-G1", path});
    EXPECT_TRUE(exiftool.started) << "exiftool (libimage-exiftool-perl) is needed";
    return QJsonDocument::fromJson(exiftool.out).array().at(0).toObject();
}

void exiftoolWrite(const QString& path, const QStringList& arguments) {
    const ToolRun exiftool = RunTool(
        "exiftool", QStringList{"-q", "-overwrite_original"} + arguments + QStringList{path});
    ASSERT_TRUE(exiftool.started);
    ASSERT_EQ(exiftool.exitCode, 0) << exiftool.err.toStdString();
}

const QStringList kCapture = {"-DateTimeOriginal=2024:05:06 07:08:09",
                              "-Make=Tonvaler",
                              "-Model=Test Camera",
                              "-LensModel=Test Lens 50mm",
                              "-ExposureTime=0.004",
                              "-GPSLatitude=48.1",
                              "-GPSLatitudeRef=N",
                              "-GPSLongitude=11.5",
                              "-GPSLongitudeRef=E",
                              "-XMP-dc:Title=Harbour at dawn"};

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// The Exif block (a TIFF structure) of a JPEG file.
QByteArray exifOf(const QByteArray& jpeg) {
    const qsizetype at = jpeg.indexOf(QByteArray("Exif\0\0", 6));
    const int length = (quint8(jpeg[at - 2]) << 8 | quint8(jpeg[at - 1])) - 2;
    return jpeg.mid(at + 6, length - 6);
}

// The XMP packet of a JPEG file.
QByteArray xmpOf(const QByteArray& jpeg) {
    const QByteArray name("http://ns.adobe.com/xap/1.0/\0", 29);
    const qsizetype at = jpeg.indexOf(name);
    const int length = (quint8(jpeg[at - 2]) << 8 | quint8(jpeg[at - 1])) - 2;
    return jpeg.mid(at + name.size(), length - name.size());
}

// Converts `source`; the output's path, or "" when it failed.
QString convert(const QString& source, const QString& folder, bool carry = true,
                PictureJob::Format format = PictureJob::Format::Jpeg) {
    PictureJob job;
    job.sourcePath = source;
    job.carryCaptureData = carry;
    job.format = format;
    const std::atomic<bool> abandoned{false};
    MemoryBudget budget(std::uint64_t(1) << 30);
    PictureOutcome outcome = ConvertPicture(job, {{}, 85, folder}, abandoned, budget);
    if (outcome.failed()) {
        ADD_FAILURE() << outcome.failure.description();
        return {};
    }
    CommitOutputFile(*outcome.file);
    return outcome.outputPath;
}

// Each kind of source with capture data: the output has it, upright (orientation 1) at its own
// size, without the thumbnail; a broken Exif block is left out and the picture still converts.
TEST(CaptureData, TheOutputCarriesTheSourcesCaptureData) {
    QTemporaryDir dir;
    const BgrxImage picture =
        MakePicture(96, 64, [](int x, int y) { return x * 2 << 16 | y * 3 << 8 | 40; });
    // A tagged JPEG, stored turned (orientation 6), whose Exif block the other formats carry.
    const QString tagged = dir.filePath("tagged.jpg");
    WriteBytes(tagged, JpegBytesOf(picture, 90, 6));
    exiftoolWrite(tagged, kCapture);
    const QByteArray exif = exifOf(fileBytes(tagged));
    ASSERT_FALSE(exif.isEmpty());

    const struct {
        const char* name;
        std::function<void(const QString&)> make;
        int width, height;  // of the output
        bool carried;
    } cases[] = {
        {"photo.jpg", [&](const QString& p) { WriteBytes(p, fileBytes(tagged)); }, 64, 96, true},
        {"thumb.jpg",
         [&](const QString& p) {
             WriteBytes(p, fileBytes(tagged));
             WriteBytes(p + ".t",
                        JpegBytesOf(MakePicture(16, 12, [](int, int) { return 0x808080; }), 80));
             exiftoolWrite(p, {"-ThumbnailImage<=" + p + ".t"});
         },
         64, 96, true},
        {"broken.jpg",
         [&](const QString& p) {
             QByteArray bytes = fileBytes(tagged);
             const qsizetype tiff = bytes.indexOf(QByteArray("Exif\0\0", 6)) + 6;
             bytes.replace(tiff + 4, 4,
                           QByteArray("\xF0\xFF\xFF\x7F", 4));  // IFD0 far past the end
             WriteBytes(p, bytes);
         },
         96, 64, false},
        {"photo.tif",
         [&](const QString& p) {
             QImage(dir.filePath("tagged.jpg")).save(p, "TIFF");  // as stored
             exiftoolWrite(p, kCapture);
         },
         96, 64, true},
        {"photo.png",
         [&](const QString& p) {
             QImage(dir.filePath("tagged.jpg")).save(p, "PNG");
             exiftoolWrite(p, kCapture);
         },
         96, 64, true},
        {"photo.webp",
         [&](const QString& p) {
             QImage(dir.filePath("tagged.jpg")).save(p, "WEBP");
             exiftoolWrite(p, kCapture);
         },
         96, 64, true},
        {"photo.heic",
         [&](const QString& p) { WriteBytes(p, HeifBytesOf(picture, false, 8, 1, 90, exif)); }, 96,
         64, true},
        {"grid.heic",
         [&](const QString& p) {
             // As phones write larger pictures: the Exif and XMP describe the grid.
             HeifGrid grid;
             grid.columns = 2;
             grid.rows = 1;
             grid.exif = QByteArray("Exif\0\0", 6) + exif;  // as copied from a JPEG
             grid.xmp = xmpOf(fileBytes(tagged));
             WriteBytes(p,
                        HeifGridBytesOf(MakePicture(128, 64, [](int x, int) { return x; }), grid));
         },
         128, 64, true},
        {"photo.avif",
         [&](const QString& p) { WriteBytes(p, HeifBytesOf(picture, true, 8, 1, 90, exif)); }, 96,
         64, true},
        {"photo.jxl",
         [&](const QString& p) { WriteBytes(p, JxlBytesOf(picture, false, 8, 1, exif)); }, 96, 64,
         true},
        {"photo.dng",
         [&](const QString& p) {
             WriteBytes(p, DngBytesOf(picture, 12, 6));
             exiftoolWrite(p, kCapture);
         },
         64, 96, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString source = dir.filePath(c.name);
        c.make(source);
        const QString output = convert(source, dir.path());
        ASSERT_FALSE(output.isEmpty());
        const QJsonObject tags = readBack(output);
        EXPECT_EQ(tags["File:ImageWidth"].toInt(), c.width);
        EXPECT_EQ(tags["File:ImageHeight"].toInt(), c.height);
        if (!c.carried) {
            EXPECT_FALSE(tags.contains("IFD0:Make")) << QJsonDocument(tags).toJson().toStdString();
            continue;
        }
        EXPECT_EQ(tags["ExifIFD:DateTimeOriginal"].toString(), "2024:05:06 07:08:09");
        EXPECT_EQ(tags["IFD0:Make"].toString(), "Tonvaler");
        EXPECT_EQ(tags["IFD0:Model"].toString(), "Test Camera");
        EXPECT_EQ(tags["ExifIFD:LensModel"].toString(), "Test Lens 50mm");
        EXPECT_DOUBLE_EQ(tags["ExifIFD:ExposureTime"].toDouble(), 0.004);
        EXPECT_NEAR(tags["GPS:GPSLatitude"].toDouble(), 48.1, 1e-6);
        EXPECT_EQ(tags["IFD0:Orientation"].toInt(), 1);
        EXPECT_EQ(tags["ExifIFD:ExifImageWidth"].toInt(), c.width);
        EXPECT_EQ(tags["ExifIFD:ExifImageHeight"].toInt(), c.height);
        EXPECT_FALSE(tags.contains("IFD1:ThumbnailLength"));
        EXPECT_FALSE(tags.contains("IFD0:StripOffsets"));
        EXPECT_FALSE(tags.contains("IFD0:DNGVersion"));
        // The XMP where the source had some (exiftool wrote it; the other makers write none).
        const bool xmp = readBack(source).contains("XMP-dc:Title");
        EXPECT_EQ(tags["XMP-dc:Title"].toString(), xmp ? "Harbour at dawn" : "");
    }

    // Asked to carry nothing, and as a lossless PNG, which carries it in its own chunks.
    QDir(dir.path()).mkdir("bare");
    const QString bare = convert(dir.filePath("photo.jpg"), dir.filePath("bare"), false);
    const QString png =
        convert(dir.filePath("photo.jpg"), dir.path(), true, PictureJob::Format::Png);
    EXPECT_FALSE(readBack(bare).contains("IFD0:Make"));
    EXPECT_EQ(readBack(png)["IFD0:Make"].toString(), "Tonvaler");
    EXPECT_EQ(QImage(png).size(), QSize(64, 96));
}

// A little-endian Exif block of one directory: (tag, type, count, value in the entry) each.
QByteArray exifBlock(const std::vector<std::array<quint32, 4>>& entries) {
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    const auto put = [&](quint32 v, int bytes) {
        for (int k = 0; k < bytes; ++k) {
            tiff += static_cast<char>(v >> (8 * k) & 0xFF);
        }
    };
    put(static_cast<quint32>(entries.size()), 2);
    for (const auto& [tag, type, count, value] : entries) {
        put(tag, 2);
        put(type, 2);
        put(count, 4);
        put(value, 4);
    }
    put(0, 4);
    return tiff;
}

// A damaged or odd source block still gives a clean one: one orientation (1) where the source
// stated two, no entry of a type TIFF does not have, none of the source's storage tags (extra
// samples, sample format, predictor, a colour profile), and the XMP's size the output's.
TEST(CaptureData, WhatTheOutputCarriesIsClean) {
    QTemporaryDir dir;
    const QByteArray exif = exifBlock({{0x010F, 2, 4, 0x00544F4E},    // Make "NOT"
                                       {0x0110, 200, 4, 0x00585858},  // Model, of no type
                                       {0x0112, 3, 1, 6},             // Orientation 6
                                       {0x0112, 3, 1, 8},             // and again, 8
                                       {0x013D, 3, 1, 2},             // Predictor
                                       {0x0152, 3, 1, 2},             // ExtraSamples
                                       {0x0153, 3, 1, 1}});           // SampleFormat
    QByteArray jpeg = JpegBytesOf(MakePicture(48, 32, [](int x, int) { return x * 5; }), 90);
    const int length = static_cast<int>(exif.size()) + 8;
    jpeg.insert(2, QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xFF) +
                       QByteArray("Exif\0\0", 6) + exif);
    const QString source = dir.filePath("odd.jpg");
    WriteBytes(source, jpeg);
    exiftoolWrite(source, {"-XMP-tiff:ImageWidth=48", "-XMP-tiff:ImageHeight=32",
                           "-XMP-exif:ExifImageWidth=48", "-XMP-tiff:Orientation#=6"});
    const QString output = convert(source, dir.path());
    ASSERT_FALSE(output.isEmpty());
    const ToolRun exiftool = RunTool("exiftool", {"-a", "-j", "-n", "-G1", output});
    ASSERT_TRUE(exiftool.started);
    const QString all = QString::fromUtf8(exiftool.out);
    EXPECT_EQ(all.count("\"IFD0:Orientation\": 1"), 1) << all.toStdString();
    EXPECT_EQ(all.count("IFD0:Orientation"), 1);
    EXPECT_TRUE(all.contains("\"IFD0:Make\": \"NOT\""));
    for (const char* gone : {"IFD0:Model", "Predictor", "ExtraSamples", "SampleFormat"}) {
        EXPECT_FALSE(all.contains(gone)) << gone;
    }
    const QJsonObject tags = readBack(output);
    EXPECT_EQ(tags["XMP-tiff:ImageWidth"].toInt(), 32);  // turned: 32 wide, 48 high
    EXPECT_EQ(tags["XMP-tiff:ImageHeight"].toInt(), 48);
    EXPECT_EQ(tags["XMP-exif:ExifImageWidth"].toInt(), 32);
    EXPECT_EQ(tags["XMP-tiff:Orientation"].toInt(), 1);
}

}  // namespace

namespace {

// Capture data larger than an output carries is left out before it is read, and said so; a colour
// profile of any size is never inflated: each of these files' capture data is made without
// reading what it cannot carry (exiv2 took 8 s and more on the first, 28 s on the profiles).
TEST(CaptureData, WhatCannotBeCarriedIsNotRead) {
    const QByteArray exif = exifBlock({{0x010F, 2, 4, 0x00544F4E}});  // Make "NOT"
    const QByteArray bigXmp = XmpPacketOf(40000);
    HeifGrid grid;
    grid.xmp = bigXmp;
    grid.exif = exif;
    const struct {
        const char* name;
        QByteArray file;
        const char* leftOut;       // what the reason names; "" for nothing left out
        const char* kept = "NOT";  // in the Exif
    } cases[] = {
        {"PNG, XMP of 40,000 properties",
         PngWith(PngChunk("eXIf", exif) +
                 PngChunk("iTXt", QByteArray("XML:com.adobe.xmp\0\0\0\0\0", 22) + bigXmp)),
         "its XMP is too large to carry"},
        {"PNG, XMP compressed, inflating to 40 MB",
         PngWith(PngChunk("eXIf", exif) +
                 PngChunk("iTXt", QByteArray("XML:com.adobe.xmp\0\1\0\0\0", 22) +
                                      qCompress(QByteArray(40 << 20, ' ')).mid(4))),
         "its XMP chunk is damaged or inflates to more than an output carries"},
        {"PNG, 200 colour profiles inflating to 40 MB each",
         PngWith(PngChunk("eXIf", exif) + ColourProfileChunks(200, 40 << 20)), ""},
        {"TIFF, XMP of 40,000 properties", TiffWithXmp(bigXmp), "its XMP is too large to carry",
         "(c) NOT"},  // laid out anew: it lies past what an output carries
        {"HEIC grid, XMP of 40,000 properties",
         HeifGridBytesOf(MakePicture(128, 64, [](int x, int) { return x; }), grid),
         "its XMP is too large to carry"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(c.file.constData()),
                                     std::size_t(c.file.size()));
        const PictureProbe probe = ProbePicture(bytes);
        const CaptureData data = FormatOf(probe.type).captureData(bytes, 40, 30);
        EXPECT_NE(data.exif.find(c.kept), std::string::npos);
        EXPECT_TRUE(data.xmp.empty());
        EXPECT_EQ(data.leftOut.substr(0, std::strlen(c.leftOut)), c.leftOut) << data.leftOut;
        EXPECT_EQ(data.leftOut.empty(), c.leftOut[0] == '\0');
    }
}

}  // namespace
