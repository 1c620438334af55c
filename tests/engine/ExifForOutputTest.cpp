#include "base/RuntimeError.h"
#include "engine/formats/CaptureData.h"
#include "engine/formats/ExifForOutput.h"
#include "engine/formats/ExifIfd.h"
#include "engine/formats/PictureFormat.h"
#include "engine/formats/XmpForOutput.h"
#include "support/ByteViews.h"
#include "support/RunTool.h"
#include "support/TestPictures.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

// A little-endian TIFF structure written from directories whose values are laid out after them.
class ExifWriter {
  public:
    struct Value {
        std::uint16_t tag, type;
        std::uint32_t count;
        QByteArray bytes;  // kept after the directories when longer than 4
        int child = -1;    // a directory of this writer this entry points at
        int base = 0;      // offsets counted from this byte of the block
    };
    // Directory `index` gets `values`; its entries that point at others are filled in by write().
    int add(std::vector<Value> values) {
        dirs_.push_back(std::move(values));
        return int(dirs_.size()) - 1;
    }
    QByteArray write() {
        QByteArray b("II*\0\x08\0\0\0", 8);
        std::vector<int> at(dirs_.size());
        int end = 8;
        for (std::size_t d = 0; d < dirs_.size(); ++d) {
            at[d] = end;
            end += 2 + 12 * int(dirs_[d].size()) + 4;
        }
        QByteArray tail;
        b.resize(end);
        for (std::size_t d = 0; d < dirs_.size(); ++d) {
            int e = at[d];
            put(b, e, int(dirs_[d].size()), 2);
            e += 2;
            for (const Value& v : dirs_[d]) {
                put(b, e, v.tag, 2);
                put(b, e + 2, v.type, 2);
                put(b, e + 4, int(v.count), 4);
                if (v.child >= 0) {
                    put(b, e + 8, at[std::size_t(v.child)] - v.base, 4);
                } else if (v.bytes.size() <= 4) {
                    b.replace(e + 8, int(v.bytes.size()), v.bytes);
                } else {
                    put(b, e + 8, end + int(tail.size()) - v.base, 4);
                    tail += v.bytes + QByteArray(v.bytes.size() % 2, '\0');
                }
                e += 12;
            }
        }
        return b + tail;
    }
    static QByteArray le(std::uint32_t v, int bytes) {
        QByteArray b;
        for (int k = 0; k < bytes; ++k) {
            b += char(v >> (8 * k) & 0xFF);
        }
        return b;
    }

  private:
    static void put(QByteArray& b, int at, int v, int bytes) {
        for (int k = 0; k < bytes; ++k) {
            b[at + k] = char(v >> (8 * k) & 0xFF);
        }
    }
    std::vector<std::vector<Value>> dirs_;
};

QByteArray ascii(const char* text) {
    return QByteArray(text) + '\0';
}

QByteArray colourJpeg() {
    return JpegBytesOf(MakePicture(40, 24, [](int x, int y) { return x * 6 << 16 | y * 9; }), 90);
}

// A maker note in a maker's layout whose preview is `jpeg`: the note's bytes, given where the
// note will sit in the block (`at`), for the layouts that count offsets from the block.
struct Maker {
    const char* name;
    const char* make;
    std::function<QByteArray(const QByteArray& jpeg, int at)> note;
    const char* kept;  // a tag of the note that stays, "" when the note goes as a whole
};

// An Exif block of `make` whose Exif directory holds `note` at its end, and a thumbnail.
QByteArray blockWith(const Maker& maker, const QByteArray& jpeg) {
    // The note goes last; its place is the block's size without it, found by writing once.
    const auto build = [&](const QByteArray& note) {
        ExifWriter w;
        const int exif = 1;
        w.add({{0x010F, 2, std::uint32_t(qstrlen(maker.make) + 1), ascii(maker.make)},
               {0x0112, 3, 1, ExifWriter::le(6, 2)},
               {0x8769, 4, 1, {}, exif}});
        w.add({{0x9003, 2, 20, ascii("2024:05:06 07:08:09")},
               {0x927C, 7, std::uint32_t(note.size()), note}});
        return w.write();
    };
    const QByteArray first = maker.note(jpeg, 0);
    const int at = int(build(first).size() - first.size() - first.size() % 2);
    return build(maker.note(jpeg, at));
}

const std::vector<Maker>& makers() {
    using W = ExifWriter;
    static const std::vector<Maker> all = {
        {"Nikon preview directory", "NIKON CORPORATION",
         [](const QByteArray& jpeg, int) {
             // Its own TIFF header, offsets counted from it.
             QByteArray n = QByteArray("Nikon\0\x02\x10\0\0", 10) + "II*" + '\0' + W::le(8, 4);
             n += W::le(2, 2) + W::le(0x0001, 2) + W::le(7, 2) + W::le(4, 4) + "0210";
             n += W::le(0x0011, 2) + W::le(4, 2) + W::le(1, 4) + W::le(8 + 2 + 24 + 4, 4);
             n += W::le(0, 4);
             const int preview = 8 + 2 + 24 + 4 + 2 + 24 + 4;
             n += W::le(2, 2) + W::le(0x0201, 2) + W::le(4, 2) + W::le(1, 4) + W::le(preview, 4);
             n += W::le(0x0202, 2) + W::le(4, 2) + W::le(1, 4) + W::le(jpeg.size(), 4);
             n += W::le(0, 4);
             return n + jpeg;
         },
         "Nikon:MakerNoteVersion"},
        {"Olympus camera settings", "OLYMPUS IMAGING CORP.",
         [](const QByteArray& jpeg, int) {
             // Offsets counted from the note.
             QByteArray n = QByteArray("OLYMPUS\0II\x03\0", 12);
             n += W::le(1, 2) + W::le(0x2020, 2) + W::le(13, 2) + W::le(1, 4) + W::le(12 + 18, 4);
             n += W::le(0, 4);
             const int preview = 12 + 18 + 2 + 36 + 4;
             n += W::le(3, 2) + W::le(0x0100, 2) + W::le(4, 2) + W::le(1, 4) + W::le(1, 4);
             n += W::le(0x0101, 2) + W::le(4, 2) + W::le(1, 4) + W::le(preview, 4);
             n += W::le(0x0102, 2) + W::le(4, 2) + W::le(1, 4) + W::le(jpeg.size(), 4);
             n += W::le(0, 4);
             return n + jpeg;
         },
         "Olympus:PreviewImageValid"},
        {"Sony preview entry", "SONY",
         [](const QByteArray& jpeg, int at) {
             // Offsets counted from the block; the preview after a header of 32 bytes, its
             // first byte zeroed and without its JFIF segment, as the cameras keep it.
             const QByteArray preview = QByteArray(32, '\x01') + '\0' + "\xD8" +
                                        jpeg.mid(4 + (quint8(jpeg[4]) << 8 | quint8(jpeg[5])));
             QByteArray n = QByteArray("SONY DSC \0\0\0", 12);
             n += W::le(2, 2) + W::le(0x0102, 2) + W::le(4, 2) + W::le(1, 4) + W::le(3, 4);
             n += W::le(0x2001, 2) + W::le(7, 2) + W::le(preview.size(), 4) +
                  W::le(at + 12 + 2 + 24 + 4, 4);
             n += W::le(0, 4);
             return n + preview;
         },
         "Sony:Quality"},
        {"Pentax start and length", "PENTAX Corporation",
         [](const QByteArray& jpeg, int at) {
             // Its byte order after its name; the preview's start counted from the block.
             QByteArray n = QByteArray("AOC\0II", 6) + W::le(3, 2);
             n += W::le(0x0002, 2) + W::le(3, 2) + W::le(2, 4) + W::le(40, 2) + W::le(24, 2);
             n += W::le(0x0003, 2) + W::le(4, 2) + W::le(1, 4) + W::le(jpeg.size(), 4);
             n += W::le(0x0004, 2) + W::le(4, 2) + W::le(1, 4) + W::le(at + 8 + 36 + 4, 4);
             n += W::le(0, 4);
             return n + jpeg;
         },
         "Pentax:PreviewImageSize"},
        {"Canon preview words", "Canon",
         [](const QByteArray& jpeg, int at) {
             // The preview's length and start among the words of one entry, whose count is
             // twice its words, as the cameras write it.
             QByteArray n = W::le(1, 2) + W::le(0x00B6, 2) + W::le(4, 2) + W::le(12, 4) +
                            W::le(at + 18, 4) + W::le(0, 4);
             for (const int word : {24, 1, int(jpeg.size()), 40, 24, at + 18 + 24}) {
                 n += W::le(std::uint32_t(word), 4);
             }
             return n + jpeg;
         },
         "Canon:PreviewImageWidth"},
        {"a layout unknown here", "Tonvaler",
         [](const QByteArray& jpeg, int) {
             return QByteArray("TVL\0 notes of its own ", 22) + jpeg;
         },
         ""},
    };
    return all;
}

QByteArray jpegCarrying(const QByteArray& exif) {
    QByteArray jpeg = JpegBytesOf(MakePicture(16, 8, [](int, int) { return 0x808080; }), 80);
    const QByteArray segment = QByteArray("Exif\0\0", 6) + exif;
    const int length = int(segment.size()) + 2;
    jpeg.insert(2, QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xFF) + segment);
    return jpeg;
}

QJsonObject tagsOf(const QString& path) {
    const ToolRun exiftool = RunTool("exiftool", {"-j", "-a", "-G1", path});
    EXPECT_TRUE(exiftool.started) << "exiftool (libimage-exiftool-perl) is needed";
    return QJsonDocument::fromJson(exiftool.out).array().at(0).toObject();
}

// No picture stays in the output, wherever the camera put it: exiftool finds no picture tag in
// the output, and no JPEG starts in its bytes; the rest of each note stays as the camera wrote it.
TEST(ExifForOutput, NoPreviewStaysInAnyMakersNote) {
    QTemporaryDir dir;
    for (const Maker& maker : makers()) {
        SCOPED_TRACE(maker.name);
        const QByteArray jpeg = colourJpeg();
        const QString source = dir.filePath("source.jpg");
        WriteBytes(source, jpegCarrying(blockWith(maker, jpeg)));
        if (const char* seeds = std::getenv("TONVALER_WRITE_SAMPLES")) {  // fuzz seeds
            const QString name =
                "maker-note-" + (maker.kept[0] != '\0'
                                     ? QString(maker.name).section(' ', 0, 0).toLower()
                                     : QString("unknown"));
            WriteBytes(QDir(seeds).filePath(name + ".jpg"), jpegCarrying(blockWith(maker, jpeg)));
            WriteBytes(QDir(seeds).filePath(name + ".tif"), blockWith(maker, jpeg));
        }
        const QJsonObject before = tagsOf(source);
        const QStringList pictures = before.keys().filter("Preview");
        if (maker.kept[0] != '\0') {
            ASSERT_FALSE(pictures.isEmpty()) << "exiftool reads no preview in the made note: "
                                             << before.keys().join(" ").toStdString();
            ASSERT_TRUE(before.contains(maker.kept));
        }
        const std::string made = ExifForOutput(BytesOf(blockWith(maker, jpeg)), 24, 40);
        const QByteArray out(made.data(), qsizetype(made.size()));
        EXPECT_FALSE(out.contains(QByteArray("\xFF\xD8\xFF", 3)));
        // exiv2's reading, which TIFF and raw files take, keeps none either.
        const std::string byExiv2 =
            CaptureDataFor(BytesOf(jpegCarrying(blockWith(maker, jpeg))), 24, 40).exif;
        EXPECT_EQ(byExiv2.find("\xFF\xD8\xFF"), std::string::npos);
        const QString output = dir.filePath("output.jpg");
        WriteBytes(output, jpegCarrying(out));
        const QJsonObject after = tagsOf(output);
        for (const QString& key : after.keys()) {
            EXPECT_FALSE(after[key].toString().startsWith("(Binary data") &&
                         (key.contains("Image") || key.contains("Preview")))
                << key.toStdString();
        }
        EXPECT_EQ(after["ExifIFD:DateTimeOriginal"].toString(), "2024:05:06 07:08:09");
        EXPECT_EQ(after["IFD0:Orientation"].toString(), "Horizontal (normal)");
        if (maker.kept[0] != '\0') {
            EXPECT_EQ(after[maker.kept], before[maker.kept]);
        } else {
            EXPECT_FALSE(after.contains("ExifIFD:MakerNoteUnknownText"));
        }
    }
}

// Whatever a stranger does to a block (cut it anywhere, double or halve any of its words), the
// result is refused with a reason or is a block whose directories read and that holds no picture.
TEST(ExifForOutput, DamagedBlocksAreRefusedOrClean) {
    std::vector<QByteArray> wholes;
    for (const Maker& maker : makers()) {
        wholes.push_back(blockWith(maker, colourJpeg()));
    }
    int refused = 0;
    int made = 0;
    for (const QByteArray& whole : wholes) {
        std::vector<QByteArray> derived;
        for (qsizetype cut = 0; cut < whole.size(); cut += 3) {
            derived.push_back(whole.left(cut));
        }
        for (qsizetype at = 4; at + 2 <= std::min<qsizetype>(whole.size(), 400); at += 2) {
            for (const int change : {2, -2, 0xFFFF}) {
                QByteArray d = whole;
                const quint32 v = quint8(d[at]) | quint32(quint8(d[at + 1])) << 8;
                const quint32 w = change == 2 ? v * 2 : change == -2 ? v / 2 : 0xFFFF;
                d[at] = char(w & 0xFF);
                d[at + 1] = char(w >> 8 & 0xFF);
                derived.push_back(d);
            }
        }
        // Each as a block, and as a file of which the output keeps a half, or three quarters.
        const auto outputs = [](const QByteArray& d) {
            std::vector<std::string> out{ExifForOutput(BytesOf(d), 24, 40)};
            for (const qsizetype limit : {d.size() / 2, d.size() * 3 / 4}) {
                if (auto made = ExifForOutputOfFile(BytesOf(d), 24, 40, std::uint64_t(limit))) {
                    EXPECT_LE(made->size(), std::size_t(limit) + 400);  // then the directories
                    out.push_back(*made);
                }
            }
            return out;
        };
        for (const QByteArray& d : derived) {
            try {
                for (const std::string& out : outputs(d)) {
                    ++made;
                    const ExifBytes bytes(
                        {reinterpret_cast<const std::uint8_t*>(out.data()), out.size()}, true);
                    ASSERT_GE(out.size(), 8u);
                    EXPECT_TRUE(bytes.directory(bytes.u32(4)).has_value());
                    // A JPEG's start: its start marker, then another after any fill bytes.
                    const std::size_t jpeg = out.find("\xFF\xD8\xFF");
                    const std::size_t next = out.find_first_not_of('\xFF', jpeg + 2);
                    EXPECT_TRUE(jpeg == std::string::npos || next == std::string::npos ||
                                std::uint8_t(out[next]) < 0xC0);
                }
            } catch (const RuntimeError& e) {
                ++refused;
                EXPECT_EQ(e.number(), ErrorNumber::InvalidPicture);
            }
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(made, 0);
}

// The value of `tag` in the directory `d` of `bytes`, as a number; -1 when it has none.
std::int64_t valueOf(const ExifBytes& bytes, const ExifBytes::Directory& d, std::uint16_t tag) {
    for (const ExifEntry& e : d.entries) {
        if (e.tag == tag) {
            return bytes.number(e);
        }
    }
    return -1;
}

// The range of the maker note in a TIFF structure: [0, 0) for none.
std::pair<std::uint64_t, std::uint64_t> makerNoteOf(const std::string& tiff) {
    const ExifBytes bytes({reinterpret_cast<const std::uint8_t*>(tiff.data()), tiff.size()}, true);
    const auto first = bytes.directory(bytes.u32(4));
    const std::int64_t exif = first ? valueOf(bytes, *first, 0x8769) : -1;
    const auto d = exif > 0 ? bytes.directory(std::uint64_t(exif)) : std::nullopt;
    for (const ExifEntry& e : d ? d->entries : std::vector<ExifEntry>{}) {
        if (e.tag == 0x927C) {
            return {e.value, e.value + e.bytes};
        }
    }
    return {0, 0};
}

// A TIFF-based file's maker note (a raw file's, whose offsets may count from the file) goes to
// the output as the camera wrote it, at its offset, byte for byte but for its preview's bytes
// and length, which are zero.
TEST(ExifForOutput, AFilesMakersNoteStaysAsTheCameraWroteIt) {
    for (const Maker& maker : makers()) {
        if (maker.kept[0] == '\0') {
            continue;
        }
        SCOPED_TRACE(maker.name);
        const QByteArray jpeg = colourJpeg();
        const QByteArray file = blockWith(maker, jpeg) + QByteArray(70000, '\x55');  // "pixels"
        const std::string source(file.constData(), std::size_t(file.size()));
        const std::string out = FormatOf(PictureType::Tiff).captureData(BytesOf(file), 24, 40).exif;
        const auto [from, to] = makerNoteOf(source);
        ASSERT_GT(to, from);
        EXPECT_EQ(makerNoteOf(out), std::make_pair(from, to));
        ASSERT_GE(out.size(), to);
        std::uint64_t changed = 0;
        for (std::uint64_t i = from; i < to; ++i) {
            changed += out[i] != source[i];
            EXPECT_TRUE(out[i] == source[i] || out[i] == '\0') << i;
        }
        EXPECT_LE(changed, std::uint64_t(jpeg.size()) + 40);
        EXPECT_EQ(out.find("\xFF\xD8\xFF"), std::string::npos);
        EXPECT_EQ(out.find("\x55\x55\x55\x55"), std::string::npos);
    }
}

// A block of `size` bytes in either byte order, its header pointing at a directory at 8, into
// which a case writes entries and values where it likes.
class RawBlock {
  public:
    RawBlock(bool little, int size) : little_(little), b_(size, '\0') {
        b_.replace(0, 4, little ? QByteArray("II*\0", 4) : QByteArray("MM\0*", 4));
        u32(4, 8);
    }
    void u16(int at, std::uint32_t v) {
        b_[at + (little_ ? 0 : 1)] = char(v & 0xFF);
        b_[at + (little_ ? 1 : 0)] = char(v >> 8 & 0xFF);
    }
    void u32(int at, std::uint32_t v) {
        u16(at + (little_ ? 0 : 2), v & 0xFFFF);
        u16(at + (little_ ? 2 : 0), v >> 16);
    }
    // An entry whose value of 4 bytes or less is `value`, a SHORT one in its first two bytes.
    void entry(int at, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
               std::uint32_t value) {
        u16(at, tag);
        u16(at + 2, type);
        u32(at + 4, count);
        type == 3 && count == 1 ? u16(at + 8, value) : u32(at + 8, value);
    }
    void bytes(int at, const QByteArray& b) { b_.replace(at, int(b.size()), b); }
    QByteArray block() const { return b_; }

  private:
    bool little_;
    QByteArray b_;
};

// Blocks written the way no camera writes them still give an output whose header and
// directories read, with the orientation 1 and the output's size in IFD0 and in the Exif
// directory its pointer leads to; or they are refused with a reason.
TEST(ExifForOutput, OddBlocksGiveATiffThatReads) {
    const QByteArray jpegStart("\xFF\xD8\xFF\xDB", 4);
    const struct {
        const char* name;
        std::function<QByteArray(bool little)> block;
        bool refused;
    } cases[] = {
        {"an Exif pointer of type SHORT",
         [](bool little) {
             RawBlock r(little, 80);
             r.u16(8, 1);
             r.entry(10, 0x8769, 3, 1, 40);
             r.u16(40, 1);
             r.entry(42, 0x9000, 7, 4, 0x30323332);
             return r.block();
         },
         false},
        {"an interoperability pointer's tag in IFD0 and an Exif pointer's in the Exif directory",
         [](bool little) {
             RawBlock r(little, 80);
             r.u16(8, 2);
             r.entry(10, 0x8769, 4, 1, 40);
             r.entry(22, 0xA005, 4, 1, 8);
             r.u16(40, 1);
             r.entry(42, 0x8769, 4, 1, 8);
             return r.block();
         },
         false},
        {"a maker note whose bytes hold the header, IFD0 and a JPEG",
         [jpegStart](bool little) {
             RawBlock r(little, 120);
             r.u16(8, 1);
             r.entry(10, 0x8769, 4, 1, 40);
             r.u16(40, 1);
             r.entry(42, 0x927C, 7, 120, 0);
             r.bytes(100, jpegStart);
             return r.block();
         },
         false},
        {"directories that share their offsets of 4,096 strips, one after another",
         [](bool little) {
             const int arrays = 16, sizes = arrays + 4 * 4096, first = sizes + 4 * 4096;
             const int count = 400;
             RawBlock r(little, first + 30 * count + 4);
             for (int k = 0; k < 4096; ++k) {
                 r.u32(arrays + 4 * k, 8);
                 r.u32(sizes + 4 * k, 100);
             }
             r.u16(8, 0);
             r.u32(10, first);
             for (int d = first; d < first + 30 * count; d += 30) {
                 r.u16(d, 2);
                 r.entry(d + 2, 0x0111, 4, 4096, arrays);
                 r.entry(d + 14, 0x0117, 4, 4096, sizes);
                 r.u32(d + 26, d + 30);
             }
             return r.block();
         },
         true},
    };
    for (const auto& c : cases) {
        for (const bool little : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (little ? ", little-endian" : ", big-endian"));
            const QByteArray block = c.block(little);
            try {
                const std::string out = ExifForOutput(BytesOf(block), 24, 40);
                EXPECT_FALSE(c.refused);
                ASSERT_GE(out.size(), 8u);
                EXPECT_EQ(out.substr(0, 4), std::string(little ? "II*\0" : "MM\0*", 4));
                const ExifBytes bytes(
                    {reinterpret_cast<const std::uint8_t*>(out.data()), out.size()}, little);
                const auto ifd0 = bytes.directory(bytes.u32(4));
                ASSERT_TRUE(ifd0.has_value());
                EXPECT_EQ(valueOf(bytes, *ifd0, 0x0112), 1);
                EXPECT_EQ(valueOf(bytes, *ifd0, 0x0100), 24);
                const auto exif = bytes.directory(std::uint64_t(valueOf(bytes, *ifd0, 0x8769)));
                ASSERT_TRUE(exif.has_value());
                EXPECT_EQ(valueOf(bytes, *exif, 0xA002), 24);
                EXPECT_EQ(valueOf(bytes, *exif, 0xA003), 40);
                EXPECT_EQ(out.find(jpegStart.toStdString()), std::string::npos);
            } catch (const RuntimeError& e) {
                EXPECT_TRUE(c.refused) << e.description();
            }
        }
    }
}

// The packet's orientation and size are the output's, whatever prefixes bind their namespaces
// and whether they are attributes or elements; what is not text is refused.
TEST(ExifForOutput, XmpStatesTheOutputsSize) {
    const std::string rdf = "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'";
    const struct {
        std::string packet, expected;
    } cases[] = {
        {"<x:xmpmeta><rdf:RDF " + rdf +
             "><rdf:Description xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" "
             "tiff:Orientation=\"6\" "
             "tiff:ImageWidth = '48'/></rdf:RDF></x:xmpmeta>",
         "<x:xmpmeta><rdf:RDF " + rdf +
             "><rdf:Description xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" "
             "tiff:Orientation=\"1\" "
             "tiff:ImageWidth = '24'/></rdf:RDF></x:xmpmeta>"},
        {"<rdf:RDF " + rdf +
             "><rdf:Description xmlns:t='http://ns.adobe.com/tiff/1.0/' "
             "xmlns:e='http://ns.adobe.com/exif/1.0/'><t:ImageLength>32</t:ImageLength>"
             "<e:PixelXDimension>48</e:PixelXDimension><t:ImageLengthX>7</t:ImageLengthX>"
             "</rdf:Description></rdf:RDF>\n      \n<?xpacket end=\"w\"?>",
         "<rdf:RDF " + rdf +
             "><rdf:Description xmlns:t='http://ns.adobe.com/tiff/1.0/' "
             "xmlns:e='http://ns.adobe.com/exif/1.0/'><t:ImageLength>40</t:ImageLength>"
             "<e:PixelXDimension>24</e:PixelXDimension><t:ImageLengthX>7</t:ImageLengthX>"
             "</rdf:Description></rdf:RDF>\n<?xpacket end=\"w\"?>"},
        {"<rdf:RDF " + rdf +
             "><rdf:Description xmlns:tiff='http://ns.adobe.com/tiff/1.0/'>"
             "<tiff:Orientation rdf:datatype='a>b'>6</tiff:Orientation>"
             "<tiff:ImageWidth><![CDATA[48]]></tiff:ImageWidth><tiff:ImageLength/>"
             "</rdf:Description></rdf:RDF>",
         "<rdf:RDF " + rdf +
             "><rdf:Description xmlns:tiff='http://ns.adobe.com/tiff/1.0/'>"
             "<tiff:Orientation rdf:datatype='a>b'>1</tiff:Orientation>"
             "<tiff:ImageWidth>24</tiff:ImageWidth><tiff:ImageLength/>"
             "</rdf:Description></rdf:RDF>"},
        {"not XMP at all", ""},
        {std::string("<rdf:RDF ") + rdf + ">\xC3(</rdf:RDF>", ""},
        {"<rdf:RDF " + rdf + std::string("><dc:t>0123456789abcdef\0</dc:t></rdf:RDF>", 41), ""},
        {"<rdf:RDF " + rdf +
             "><dc:t>Fr\xC3\xA9"
             "d\xC3\xA9"
             "ric \xF0\x9F\x93\xB7</dc:t></rdf:RDF>",
         "<rdf:RDF " + rdf +
             "><dc:t>Fr\xC3\xA9"
             "d\xC3\xA9"
             "ric \xF0\x9F\x93\xB7</dc:t></rdf:RDF>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.packet);
        try {
            EXPECT_EQ(XmpForOutput(c.packet, 24, 40), c.expected);
        } catch (const RuntimeError& e) {
            EXPECT_EQ(c.expected, "") << e.description();
        }
    }
}

}  // namespace
