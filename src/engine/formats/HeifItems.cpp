#include "engine/formats/HeifItems.h"

#include "base/RuntimeError.h"

#include <algorithm>
#include <set>
#include <utility>

namespace {

using Bytes = std::span<const std::uint8_t>;

[[noreturn]] void fail(const std::string& why) {
    throw RuntimeError(ErrorNumber::InvalidPicture, why);
}

// A box's four-letter type, fit to be shown.
std::string typeOf(Bytes b, std::size_t at) {
    std::string type(reinterpret_cast<const char*>(b.data() + at), 4);
    for (char& c : type) {
        if (c < 0x20 || c > 0x7E) {
            c = '?';
        }
    }
    return type;
}

struct Box {
    std::string type;
    std::size_t at = 0;       // its size field
    std::size_t content = 0;  // after its header
    std::size_t end = 0;
};

// Bytes read in order up to an end, each read checked.
class Cursor {
  public:
    Cursor(Bytes b, const Box& box, std::size_t from) : b_(b), at_(from), end_(box.end), box_(box) {
        if (at_ > end_) {
            tooShort();
        }
    }
    std::uint64_t number(int width) {
        if (end_ - at_ < std::size_t(width)) {
            tooShort();
        }
        std::uint64_t v = 0;
        for (int k = 0; k < width; ++k) {
            v = v << 8 | b_[at_++];
        }
        return v;
    }
    std::uint32_t u8() { return std::uint32_t(number(1)); }
    std::uint32_t u16() { return std::uint32_t(number(2)); }
    std::uint32_t u32() { return std::uint32_t(number(4)); }
    std::string fourcc() {
        number(4);
        return typeOf(b_, at_ - 4);
    }
    std::size_t at() const { return at_; }
    bool done() const { return at_ == end_; }
    void expectDone() const {
        if (!done()) {
            fail("its " + box_.type + " box at " + std::to_string(box_.at) + " holds " +
                 std::to_string(end_ - at_) + " bytes more than its entries");
        }
    }

  private:
    [[noreturn]] void tooShort() const {
        fail("its " + box_.type + " box at " + std::to_string(box_.at) +
             " ends before its entries do");
    }
    Bytes b_;
    std::size_t at_;
    std::size_t end_;
    const Box& box_;
};

// The boxes that fill [from, end) exactly within `holder`. At the top level, the file's boxes up
// to the first that cannot be whole: bytes appended after a whole file stay allowed (what a
// picture needs is checked to lie within the boxes and the file by their readers).
std::vector<Box> boxesIn(Bytes b, std::size_t from, std::size_t end, const Box* holder) {
    std::vector<Box> boxes;
    std::size_t at = from;
    // After a whole box of the file, what cannot be a whole box is bytes appended to it.
    const bool mayEnd = holder == nullptr;
    while (at < end) {
        const std::string where = " at " + std::to_string(at);
        if (end - at < 8) {
            if (mayEnd && !boxes.empty()) {
                break;
            }
            fail(std::to_string(end - at) + " bytes" + where + " are no box");
        }
        Box box{typeOf(b, at + 4), at, at + 8, 0};
        std::uint64_t size = std::uint64_t(b[at]) << 24 | std::uint64_t(b[at + 1]) << 16 |
                             std::uint64_t(b[at + 2]) << 8 | b[at + 3];
        if (size == 1) {
            if (end - at < 16) {
                fail("its " + box.type + " box" + where + " ends in its size");
            }
            size = 0;
            for (int k = 0; k < 8; ++k) {
                size = size << 8 | b[at + 8 + k];
            }
            box.content = at + 16;
        } else if (size == 0 && holder == nullptr) {
            size = end - at;  // the last box of a file may run to its end
        }
        if (mayEnd && !boxes.empty() && (size < box.content - at || size > end - at)) {
            break;
        }
        if (size < box.content - at) {
            fail("its " + box.type + " box" + where + " states a size of " + std::to_string(size) +
                 " bytes");
        }
        if (size > end - at) {
            fail("its " + box.type + " box" + where + " states " + std::to_string(size) +
                 " bytes, " +
                 (holder == nullptr ? "the file holds " + std::to_string(end - at) + " from there"
                                    : "more than its " + holder->type + " box holds"));
        }
        box.end = at + std::size_t(size);
        at = box.end;
        boxes.push_back(std::move(box));
    }
    return boxes;
}

// The one box of `type` among `boxes`, or null; two of them are a fault.
const Box* single(const std::vector<Box>& boxes, const char* type, bool required) {
    const Box* found = nullptr;
    for (const Box& box : boxes) {
        if (box.type == type) {
            if (found != nullptr) {
                fail(std::string("it holds two ") + type + " boxes");
            }
            found = &box;
        }
    }
    if (found == nullptr && required) {
        fail(std::string("it has no ") + type + " box");
    }
    return found;
}

// A full box's children, after its version, flags and `skip` bytes more.
std::vector<Box> childrenOf(Bytes b, const Box& box, std::size_t skip) {
    Cursor c(b, box, box.content);
    c.number(4);
    for (std::size_t k = 0; k < skip; ++k) {
        c.u8();
    }
    return boxesIn(b, c.at(), box.end, &box);
}

void readItemInfo(Bytes b, const Box& iinf, HeifItems& items) {
    Cursor c(b, iinf, iinf.content);
    const std::uint32_t version = c.u8();
    c.number(3);
    const std::uint64_t count = version == 0 ? c.u16() : c.u32();
    const std::vector<Box> entries = boxesIn(b, c.at(), iinf.end, &iinf);
    if (entries.size() != count) {
        fail("its iinf box lists " + std::to_string(count) + " items and holds " +
             std::to_string(entries.size()));
    }
    for (const Box& infe : entries) {
        if (infe.type != "infe") {
            fail("its iinf box holds a " + infe.type + " box");
        }
        Cursor e(b, infe, infe.content);
        const std::uint32_t v = e.u8();
        HeifItems::Item item;
        item.hidden = (e.number(3) & 1) != 0;
        item.id = v == 3 ? e.u32() : e.u16();
        e.u16();  // protection
        if (v >= 2) {
            item.type = e.fourcc();
        }
        items.items.push_back(std::move(item));
    }
    // In order, for finding them (a file may describe thousands).
    std::sort(items.items.begin(), items.items.end(),
              [](const auto& a, const auto& b) { return a.id < b.id; });
    for (std::size_t k = 1; k < items.items.size(); ++k) {
        if (items.items[k].id == items.items[k - 1].id) {
            fail("item " + std::to_string(items.items[k].id) + " is described twice");
        }
    }
}

// The item of that id, to fill in; null for one not described.
HeifItems::Item* described(HeifItems& items, std::uint32_t id) {
    return const_cast<HeifItems::Item*>(std::as_const(items).item(id));
}

void readLocations(Bytes b, const Box& iloc, const Box* idat, HeifItems& items) {
    Cursor c(b, iloc, iloc.content);
    const std::uint32_t version = c.u8();
    c.number(3);
    if (version > 2) {
        fail("its iloc box is of version " + std::to_string(version));
    }
    const std::uint32_t sizes = c.u16();
    const int offsetSize = int(sizes >> 12);
    const int lengthSize = int(sizes >> 8 & 15);
    const int baseSize = int(sizes >> 4 & 15);
    const int indexSize = version >= 1 ? int(sizes & 15) : 0;
    for (const int s : {offsetSize, lengthSize, baseSize, indexSize}) {
        if (s != 0 && s != 4 && s != 8) {
            fail("its iloc box states fields of " + std::to_string(s) + " bytes");
        }
    }
    const std::uint64_t count = version < 2 ? c.u16() : c.u32();
    std::set<std::uint32_t> seen;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint32_t id = version < 2 ? c.u16() : c.u32();
        const std::uint32_t method = version >= 1 ? c.u16() & 15 : 0;
        const std::uint32_t file = c.u16();
        const std::uint64_t base = c.number(baseSize);
        const std::uint64_t extents = c.u16();
        const std::string name = "item " + std::to_string(id);
        if (!seen.insert(id).second) {
            fail(name + " is located twice");
        }
        std::vector<HeifItems::Range> data;
        for (std::uint64_t e = 0; e < extents; ++e) {
            c.number(indexSize);
            const std::uint64_t offset = c.number(offsetSize);
            const std::uint64_t length = c.number(lengthSize);
            // The resource the offsets count in: the file, or the meta box's idat.
            std::uint64_t start = 0;
            std::uint64_t end = b.size();
            if (method == 1) {
                if (idat == nullptr) {
                    fail(name + " lies in an idat box the file does not have");
                }
                start = idat->content;
                end = idat->end;
            }
            const std::uint64_t room = end - start;
            if (base > room || offset > room - base || length > room - base - offset) {
                fail("the data of " + name + " (" + std::to_string(length) + " bytes at " +
                     std::to_string(base + offset) + ") lie beyond the " +
                     (method == 1 ? "idat box's end" : "file's end, at " + std::to_string(end)));
            }
            data.push_back({std::size_t(start + base + offset), std::size_t(length)});
        }
        if (HeifItems::Item* item = described(items, id)) {
            // Data in another file, or made from other items' data, are not read.
            item->located = file == 0 && method <= 1;
            item->data = std::move(data);
        }
    }
    c.expectDone();
}

void readProperties(Bytes b, const Box& iprp, HeifItems& items) {
    const std::vector<Box> inside = boxesIn(b, iprp.content, iprp.end, &iprp);
    const Box* ipco = single(inside, "ipco", true);
    for (const Box& p : boxesIn(b, ipco->content, ipco->end, ipco)) {
        items.properties.push_back({p.type, {p.content, p.end - p.content}});
    }
    std::set<std::uint32_t> seen;
    for (const Box& ipma : inside) {
        if (ipma.type != "ipma") {
            continue;
        }
        Cursor c(b, ipma, ipma.content);
        const std::uint32_t version = c.u8();
        const bool wide = (c.number(3) & 1) != 0;
        const std::uint64_t entries = c.u32();
        for (std::uint64_t e = 0; e < entries; ++e) {
            const std::uint32_t id = version < 1 ? c.u16() : c.u32();
            if (!seen.insert(id).second) {
                fail("item " + std::to_string(id) + " is given its properties twice");
            }
            const std::uint32_t count = c.u8();
            std::vector<std::size_t> own, essential;
            for (std::uint32_t k = 0; k < count; ++k) {
                const std::uint32_t association = wide ? c.u16() : c.u8();
                const std::uint32_t index = association & (wide ? 0x7FFF : 0x7F);
                if (index > items.properties.size()) {
                    fail("item " + std::to_string(id) + " is given property " +
                         std::to_string(index) + " of " + std::to_string(items.properties.size()));
                }
                if (index > 0) {
                    own.push_back(index - 1);
                    if ((association & (wide ? 0x8000 : 0x80)) != 0) {
                        essential.push_back(index - 1);
                    }
                }
            }
            for (std::size_t k = 0; k < own.size(); ++k) {
                const std::string& type = items.properties[own[k]].type;
                const bool single = type == "ispe" || type == "irot" || type == "imir" ||
                                    type == "clap" || type == "pixi" || type == "auxC" ||
                                    type == "hvcC" || type == "av1C";
                for (std::size_t j = 0; single && j < k; ++j) {
                    if (items.properties[own[j]].type == type) {
                        fail("item " + std::to_string(id) + " is given two " + type +
                             " properties");
                    }
                }
            }
            if (HeifItems::Item* item = described(items, id)) {
                item->properties = std::move(own);
                item->essential = std::move(essential);
            }
        }
        c.expectDone();
    }
}

void readReferences(Bytes b, const Box& iref, HeifItems& items) {
    Cursor head(b, iref, iref.content);
    const bool wide = head.u8() != 0;
    for (const Box& r : childrenOf(b, iref, 0)) {
        Cursor c(b, r, r.content);
        HeifItems::Reference reference{r.type, wide ? c.u32() : c.u16(), {}};
        const std::uint32_t count = c.u16();
        for (std::uint32_t k = 0; k < count; ++k) {
            reference.to.push_back(wide ? c.u32() : c.u16());
        }
        c.expectDone();
        for (const std::uint32_t id : reference.to) {
            if (items.item(id) == nullptr || items.item(reference.from) == nullptr) {
                fail("its " + reference.type + " reference from item " +
                     std::to_string(reference.from) + " to item " + std::to_string(id) +
                     " names an item the file does not describe");
            }
        }
        items.references.push_back(std::move(reference));
    }
    std::stable_sort(items.references.begin(), items.references.end(),
                     [](const auto& a, const auto& b) { return a.from < b.from; });
}

void readMeta(Bytes b, const Box& meta, HeifItems& items) {
    const std::vector<Box> boxes = childrenOf(b, meta, 0);
    const Box* pitm = single(boxes, "pitm", true);
    Cursor c(b, *pitm, pitm->content);
    const std::uint32_t version = c.u8();
    c.number(3);
    items.primary = version == 0 ? c.u16() : c.u32();
    readItemInfo(b, *single(boxes, "iinf", true), items);
    readLocations(b, *single(boxes, "iloc", true), single(boxes, "idat", false), items);
    readProperties(b, *single(boxes, "iprp", true), items);
    if (const Box* iref = single(boxes, "iref", false)) {
        readReferences(b, *iref, items);
    }
    if (const Box* dinf = single(boxes, "dinf", false)) {
        for (const Box& dref : boxesIn(b, dinf->content, dinf->end, dinf)) {
            if (dref.type == "dref") {
                childrenOf(b, dref, 4);
            }
        }
    }
}

}  // namespace

const HeifItems::Item* HeifItems::item(std::uint32_t id) const {
    const auto at = std::lower_bound(items.begin(), items.end(), id,
                                     [](const Item& i, std::uint32_t v) { return i.id < v; });
    return at != items.end() && at->id == id ? &*at : nullptr;
}

const HeifItems::Property* HeifItems::property(const Item& item, std::string_view type) const {
    for (const std::size_t index : item.properties) {
        if (properties[index].type == type) {
            return &properties[index];
        }
    }
    return nullptr;
}

std::vector<std::uint32_t> HeifItems::referenced(std::uint32_t from, std::string_view type) const {
    std::vector<std::uint32_t> to;
    auto at = std::lower_bound(references.begin(), references.end(), from,
                               [](const Reference& r, std::uint32_t v) { return r.from < v; });
    for (; at != references.end() && at->from == from; ++at) {
        if (at->type == type) {
            to.insert(to.end(), at->to.begin(), at->to.end());
        }
    }
    return to;
}

HeifItemsRead ReadHeifItems(std::span<const std::uint8_t> bytes) {
    HeifItemsRead read;
    try {
        const std::vector<Box> top = boxesIn(bytes, 0, bytes.size(), nullptr);
        if (top.empty() || top.front().type != "ftyp") {
            fail("it does not begin with its ftyp box");
        }
        readMeta(bytes, *single(top, "meta", true), read.items);
    } catch (const RuntimeError& e) {
        read.items = {};
        read.fault = e.description();
    }
    return read;
}
