#include "formats/samples/SampleStructure.h"

#include "support/IsoBoxes.h"
#include "support/TestPictures.h"

BgrxImage SamplePicture(int width, int height, int seed) {
    return MakePicture(width, height, [=](int x, int y) {
        const quint32 r = (x * 7 + y * 3 + seed * 50) & 0xFF;
        const quint32 g = ((x ^ y) * 5 + seed * 20) & 0xFF;
        const quint32 b = (x * y / 4 + seed * 90) & 0xFF;
        return r << 16 | g << 8 | b;
    });
}

QImage SampleImage(const BgrxImage& picture, QImage::Format format) {
    QImage image(picture.width(), picture.height(), QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            image.setPixel(x, y, 0xFF000000u | ColourAt(picture, x, y));
        }
    }
    return image.convertToFormat(format);
}

namespace {

int be16(const QByteArray& b, qsizetype at) {
    return static_cast<std::uint8_t>(b[at]) << 8 | static_cast<std::uint8_t>(b[at + 1]);
}

std::uint32_t be32(const QByteArray& b, qsizetype at) {
    return std::uint32_t(be16(b, at)) << 16 | std::uint32_t(be16(b, at + 2));
}

}  // namespace

void AddJpegStructure(ContractSample& s) {
    const QByteArray& b = s.bytes;
    qsizetype at = 2;
    s.boundaries.push_back(2);
    while (at + 4 <= b.size()) {
        if (static_cast<std::uint8_t>(b[at]) != 0xFF) {
            ++at;  // within scan data
            continue;
        }
        const int marker = static_cast<std::uint8_t>(b[at + 1]);
        if (marker == 0x00 || marker == 0xFF) {
            ++at;
            continue;
        }
        s.boundaries.push_back(at);
        if (marker == 0xD9) {
            s.boundaries.push_back(at + 2);
            break;
        }
        if (marker >= 0xD0 && marker <= 0xD7) {
            at += 2;  // a restart marker
            continue;
        }
        const int length = be16(b, at + 2);
        s.fields.push_back(IntegerField(
            "marker " + QByteArray::number(marker, 16).toStdString() + " length", at + 2, 2, true));
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC) {
            s.fields.push_back(IntegerField("frame height", at + 5, 2, true));
            s.fields.push_back(IntegerField("frame width", at + 7, 2, true));
        }
        at += 2 + length;
        s.boundaries.push_back(at);  // the segment's end: a scan's data begins here
    }
}

void AddPngStructure(ContractSample& s) {
    const QByteArray& b = s.bytes;
    qsizetype at = 8;
    while (at + 12 <= b.size()) {
        const std::uint32_t length = be32(b, at);
        s.boundaries.push_back(at);
        s.boundaries.push_back(at + 8);  // the chunk's data
        s.fields.push_back(IntegerField(b.mid(at + 4, 4).toStdString() + " length", at, 4, true));
        if (b.mid(at + 4, 4) == "IHDR") {
            s.fields.push_back(IntegerField("IHDR width", at + 8, 4, true));
            s.fields.push_back(IntegerField("IHDR height", at + 12, 4, true));
        }
        at += 12 + qsizetype(length);
    }
    s.boundaries.push_back(at);
}

FieldEdit TextNumberField(std::string what, qsizetype at, qsizetype length) {
    return {std::move(what),
            [=](const QByteArray& whole, int direction) -> std::optional<QByteArray> {
                bool ok = false;
                const long long v = whole.mid(at, length).toLongLong(&ok);
                if (!ok || v == 0) {
                    return std::nullopt;
                }
                QByteArray edited = whole;
                edited.replace(at, length, QByteArray::number(direction > 0 ? 2 * v : v / 2));
                return edited;
            }};
}

namespace {

void addBoxes(ContractSample& s, const std::vector<IsoBox>& boxes) {
    for (const IsoBox& box : boxes) {
        const std::string where = " at " + std::to_string(box.at);
        s.boundaries.push_back(box.at);
        s.boundaries.push_back(box.end());
        s.fields.push_back(
            IntegerField(box.type + " size" + where, box.sizeAt, box.sizeWidth, true));
        if (box.type == "ispe") {
            s.fields.push_back(IntegerField("ispe width" + where, box.content + 4, 4, true));
            s.fields.push_back(IntegerField("ispe height" + where, box.content + 8, 4, true));
        }
        if (box.type == "clap") {
            const char* names[] = {"width N",
                                   "width D",
                                   "height N",
                                   "height D",
                                   "horizontal offset N",
                                   "horizontal offset D",
                                   "vertical offset N",
                                   "vertical offset D"};
            for (int k = 0; k < 8; ++k) {
                FieldEdit field = IntegerField(std::string("clap ") + names[k] + where,
                                               box.content + 4 * k, 4, true);
                field.staysValid =
                    "a clean aperture is a crop the file states: one still within the picture "
                    "is another valid crop of it";
                s.fields.push_back(std::move(field));
            }
        }
        addBoxes(s, box.children);
    }
}

}  // namespace

void AddHeifStructure(ContractSample& s) {
    const std::vector<IsoBox> boxes = IsoBoxesOf(s.bytes);
    addBoxes(s, boxes);
    const IsoItems items = IsoItemsOf(s.bytes, boxes);
    for (const IsoItem& item : items.items) {
        const std::string name = "item " + std::to_string(item.id) + " (" + item.type + ")";
        for (std::size_t e = 0; e < item.extents.size(); ++e) {
            const IsoExtent& x = item.extents[e];
            const std::string extent = name + " extent " + std::to_string(e);
            s.boundaries.push_back(x.start);
            s.boundaries.push_back(x.start + qsizetype(x.length));
            if (x.offsetSize > 0) {
                s.fields.push_back(IntegerField(extent + " offset", x.offsetAt, x.offsetSize, true,
                                                FieldKind::Offset));
            }
            if (x.lengthSize > 0) {
                s.fields.push_back(
                    IntegerField(extent + " length", x.lengthAt, x.lengthSize, true));
            }
        }
        if (item.type == "grid" && item.extents.size() == 1) {
            const qsizetype at = item.extents[0].start;
            const int width = (static_cast<std::uint8_t>(s.bytes[at + 1]) & 1) != 0 ? 4 : 2;
            s.fields.push_back(IntegerField("grid rows", at + 2, 1, true, FieldKind::Count));
            s.fields.push_back(IntegerField("grid columns", at + 3, 1, true, FieldKind::Count));
            s.fields.push_back(IntegerField("grid output width", at + 4, width, true));
            s.fields.push_back(IntegerField("grid output height", at + 4 + width, width, true));
        }
    }
}
