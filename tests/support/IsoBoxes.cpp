#include "support/IsoBoxes.h"

#include <stdexcept>

namespace {

std::uint64_t number(const QByteArray& b, qsizetype at, int width) {
    if (at < 0 || at + width > b.size()) {
        throw std::runtime_error("a box field beyond the file at " + std::to_string(at));
    }
    std::uint64_t v = 0;
    for (int k = 0; k < width; ++k) {
        v = v << 8 | static_cast<std::uint8_t>(b[at + k]);
    }
    return v;
}

// Where the boxes a container holds begin, after its content's start; -1 for a box that holds
// none.
qsizetype childrenOffset(const QByteArray& b, const IsoBox& box) {
    const std::string& t = box.type;
    if (t == "iprp" || t == "ipco" || t == "dinf") {
        return 0;
    }
    if (t == "meta" || t == "iref") {
        return 4;
    }
    if (t == "dref") {
        return 8;
    }
    if (t == "iinf") {
        return number(b, box.content, 1) == 0 ? 6 : 8;
    }
    return -1;
}

std::vector<IsoBox> boxesIn(const QByteArray& b, qsizetype from, qsizetype end) {
    std::vector<IsoBox> boxes;
    qsizetype at = from;
    while (at < end) {
        IsoBox box;
        box.at = at;
        box.sizeAt = at;
        std::uint64_t size = number(b, at, 4);
        box.type = b.mid(at + 4, 4).toStdString();
        box.content = at + 8;
        if (size == 1) {
            box.sizeAt = at + 8;
            box.sizeWidth = 8;
            size = number(b, at + 8, 8);
            box.content = at + 16;
        } else if (size == 0) {
            size = std::uint64_t(end - at);
        }
        if (size < std::uint64_t(box.content - at) || size > std::uint64_t(end - at)) {
            throw std::runtime_error("box " + box.type + " at " + std::to_string(at) +
                                     " does not fit");
        }
        box.size = qsizetype(size);
        if (const qsizetype offset = childrenOffset(b, box); offset >= 0) {
            box.children = boxesIn(b, box.content + offset, box.end());
        }
        at = box.end();
        boxes.push_back(std::move(box));
    }
    return boxes;
}

const IsoBox& required(const std::vector<IsoBox>& boxes, const char* type) {
    const IsoBox* box = FindIsoBox(boxes, type);
    if (box == nullptr) {
        throw std::runtime_error(std::string("no ") + type + " box");
    }
    return *box;
}

void readIloc(const QByteArray& b, const IsoBox& iloc, qsizetype idat, IsoItems& items) {
    const int version = int(number(b, iloc.content, 1));
    qsizetype at = iloc.content + 4;
    const int offsetSize = int(number(b, at, 1) >> 4);
    const int lengthSize = int(number(b, at, 1) & 15);
    const int baseSize = int(number(b, at + 1, 1) >> 4);
    const int indexSize = version >= 1 ? int(number(b, at + 1, 1) & 15) : 0;
    at += 2;
    const int idWidth = version < 2 ? 2 : 4;
    const std::uint64_t count = number(b, at, idWidth);
    at += idWidth;
    for (std::uint64_t i = 0; i < count; ++i) {
        IsoItem item;
        item.id = std::uint32_t(number(b, at, idWidth));
        at += idWidth;
        if (version >= 1) {
            item.constructionMethod = int(number(b, at, 2) & 15);
            at += 2;
        }
        at += 2;  // the data reference
        const std::uint64_t base = baseSize > 0 ? number(b, at, baseSize) : 0;
        at += baseSize;
        const std::uint64_t extents = number(b, at, 2);
        at += 2;
        for (std::uint64_t e = 0; e < extents; ++e) {
            at += indexSize;
            IsoExtent x;
            x.offsetAt = at;
            x.offsetSize = offsetSize;
            x.offset = offsetSize > 0 ? number(b, at, offsetSize) : 0;
            at += offsetSize;
            x.lengthAt = at;
            x.lengthSize = lengthSize;
            x.length = lengthSize > 0 ? number(b, at, lengthSize) : 0;
            at += lengthSize;
            x.start = qsizetype(base + x.offset) + (item.constructionMethod == 1 ? idat : 0);
            item.extents.push_back(x);
        }
        for (IsoItem& known : items.items) {
            if (known.id == item.id) {
                known.constructionMethod = item.constructionMethod;
                known.extents = item.extents;
            }
        }
    }
}

}  // namespace

std::vector<IsoBox> IsoBoxesOf(const QByteArray& bytes) {
    return boxesIn(bytes, 0, bytes.size());
}

const IsoBox* FindIsoBox(const std::vector<IsoBox>& boxes, const std::string& type) {
    for (const IsoBox& box : boxes) {
        if (box.type == type) {
            return &box;
        }
        if (const IsoBox* inner = FindIsoBox(box.children, type)) {
            return inner;
        }
    }
    return nullptr;
}

const IsoItem& IsoItems::item(std::uint32_t id) const {
    for (const IsoItem& i : items) {
        if (i.id == id) {
            return i;
        }
    }
    throw std::runtime_error("no item " + std::to_string(id));
}

const IsoBox* IsoItems::property(const IsoItem& item, const std::string& type) const {
    for (const int index : item.properties) {
        if (index >= 0 && index < int(properties.size()) && properties[index]->type == type) {
            return properties[index];
        }
    }
    return nullptr;
}

QByteArray IsoItems::dataOf(const QByteArray& bytes, const IsoItem& item) const {
    QByteArray data;
    for (const IsoExtent& x : item.extents) {
        if (x.start < 0 || x.start + qsizetype(x.length) > bytes.size()) {
            throw std::runtime_error("item data beyond the file");
        }
        data += bytes.mid(x.start, qsizetype(x.length));
    }
    return data;
}

std::vector<std::uint32_t> IsoItems::referenced(std::uint32_t from, const std::string& type) const {
    for (const IsoReference& r : references) {
        if (r.from == from && r.type == type) {
            return r.to;
        }
    }
    return {};
}

IsoItems IsoItemsOf(const QByteArray& b, const std::vector<IsoBox>& boxes) {
    IsoItems items;
    const IsoBox& pitm = required(boxes, "pitm");
    items.primary = std::uint32_t(number(b, pitm.content + 4, number(b, pitm.content, 1) ? 4 : 2));
    for (const IsoBox& infe : required(boxes, "iinf").children) {
        const int version = int(number(b, infe.content, 1));
        if (infe.type != "infe" || version < 2) {
            continue;
        }
        const int idWidth = version == 2 ? 2 : 4;
        IsoItem item;
        item.id = std::uint32_t(number(b, infe.content + 4, idWidth));
        item.type = b.mid(infe.content + 4 + idWidth + 2, 4).toStdString();
        items.items.push_back(item);
    }
    const IsoBox* idat = FindIsoBox(boxes, "idat");
    readIloc(b, required(boxes, "iloc"), idat != nullptr ? idat->content : 0, items);
    for (const IsoBox& p : required(boxes, "ipco").children) {
        items.properties.push_back(&p);
    }
    const IsoBox& ipma = required(boxes, "ipma");
    const int version = int(number(b, ipma.content, 1));
    const bool wide = (number(b, ipma.content + 3, 1) & 1) != 0;
    qsizetype at = ipma.content + 4;
    const std::uint64_t entries = number(b, at, 4);
    at += 4;
    for (std::uint64_t e = 0; e < entries; ++e) {
        const std::uint32_t id = std::uint32_t(number(b, at, version < 1 ? 2 : 4));
        at += version < 1 ? 2 : 4;
        const std::uint64_t count = number(b, at, 1);
        at += 1;
        std::vector<int> properties;
        for (std::uint64_t k = 0; k < count; ++k) {
            const std::uint64_t v = number(b, at, wide ? 2 : 1);
            at += wide ? 2 : 1;
            const int index = int(v & (wide ? 0x7FFF : 0x7F));
            if (index > 0) {
                properties.push_back(index - 1);
            }
        }
        for (IsoItem& item : items.items) {
            if (item.id == id) {
                item.properties = properties;
            }
        }
    }
    if (const IsoBox* iref = FindIsoBox(boxes, "iref")) {
        const int idWidth = number(b, iref->content, 1) == 0 ? 2 : 4;
        for (const IsoBox& r : iref->children) {
            IsoReference reference;
            reference.type = r.type;
            qsizetype p = r.content;
            reference.from = std::uint32_t(number(b, p, idWidth));
            p += idWidth;
            const std::uint64_t count = number(b, p, 2);
            p += 2;
            for (std::uint64_t k = 0; k < count; ++k) {
                reference.to.push_back(std::uint32_t(number(b, p, idWidth)));
                p += idWidth;
            }
            items.references.push_back(reference);
        }
    }
    return items;
}

QByteArray BigEndian(std::uint32_t value, int width) {
    QByteArray out;
    for (int k = width - 1; k >= 0; --k) {
        out.append(static_cast<char>(value >> (8 * k) & 0xFF));
    }
    return out;
}

QByteArray IsoBoxBytes(const char* type, const QByteArray& content) {
    return BigEndian(std::uint32_t(8 + content.size()), 4) + QByteArray(type, 4) + content;
}

QByteArray IsoFullBoxBytes(const char* type, int version, std::uint32_t flags,
                           const QByteArray& content) {
    return IsoBoxBytes(type, BigEndian(std::uint32_t(version), 1) + BigEndian(flags, 3) + content);
}
