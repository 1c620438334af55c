#include "formats/samples/TiffStructure.h"

#include <algorithm>
#include <set>

namespace {

class Reader {
  public:
    explicit Reader(const QByteArray& b) : b_(b), big_(b.startsWith("MM")) {}
    bool big() const { return big_; }
    // 0 beyond the end: a walk over a damaged structure stops there.
    std::uint32_t number(qsizetype at, int width) const {
        if (at < 0 || at + width > b_.size()) {
            return 0;
        }
        std::uint32_t v = 0;
        for (int k = 0; k < width; ++k) {
            const auto byte = static_cast<std::uint8_t>(b_[at + (big_ ? k : width - 1 - k)]);
            v = v << 8 | byte;
        }
        return v;
    }

  private:
    const QByteArray& b_;
    bool big_;
};

struct Entry {
    std::uint16_t tag = 0;
    int width = 0;  // of each value: 2 (SHORT), 4 (LONG), 0 for other types
    std::uint32_t count = 0;
    qsizetype at = 0;  // where the values are
};

const char* nameOf(std::uint16_t tag) {
    switch (tag) {
        case 256:
            return "ImageWidth";
        case 257:
            return "ImageLength";
        case 258:
            return "BitsPerSample";
        case 273:
            return "StripOffsets";
        case 278:
            return "RowsPerStrip";
        case 279:
            return "StripByteCounts";
        case 322:
            return "TileWidth";
        case 323:
            return "TileLength";
        case 324:
            return "TileOffsets";
        case 325:
            return "TileByteCounts";
        case 330:
            return "SubIFDs";
    }
    return nullptr;
}

}  // namespace

void AddTiffStructure(ContractSample& s) {
    const QByteArray& b = s.bytes;
    const Reader r(b);
    s.boundaries.push_back(8);
    s.fields.push_back(IntegerField("first directory offset", 4, 4, r.big(), FieldKind::Offset));
    std::vector<std::pair<qsizetype, qsizetype>> plain;
    std::set<std::uint32_t> seen;
    std::vector<std::uint32_t> pending{r.number(4, 4)};
    int number = 0;
    while (!pending.empty()) {
        const std::uint32_t at = pending.back();
        pending.pop_back();
        const std::uint32_t entries = r.number(at, 2);
        if (at < 8 || at + 2 + 12 * qsizetype(entries) + 4 > b.size() || !seen.insert(at).second) {
            continue;
        }
        const std::string directory = "IFD" + std::to_string(number++) + " ";
        const qsizetype end = at + 2 + 12 * qsizetype(entries) + 4;
        s.boundaries.push_back(at);
        s.boundaries.push_back(end);
        std::vector<Entry> listed;
        for (std::uint32_t i = 0; i < entries; ++i) {
            const qsizetype e = at + 2 + 12 * qsizetype(i);
            Entry entry{std::uint16_t(r.number(e, 2)), 0, r.number(e + 4, 4), e + 8};
            const std::uint32_t type = r.number(e + 2, 2);
            entry.width = type == 3 ? 2 : type == 4 || type == 13 ? 4 : 0;
            if (qsizetype(entry.count) * entry.width > 4) {
                entry.at = r.number(e + 8, 4);
            }
            listed.push_back(entry);
        }
        const auto find = [&](std::uint16_t tag) {
            const auto it = std::find_if(listed.begin(), listed.end(),
                                         [&](const Entry& e) { return e.tag == tag; });
            return it == listed.end() ? Entry{} : *it;
        };
        const auto value = [&](const Entry& e, std::uint32_t i) {
            return r.number(e.at + qsizetype(i) * e.width, e.width);
        };
        for (const Entry& e : listed) {
            const char* name = nameOf(e.tag);
            if (name == nullptr || e.width == 0 || e.at + qsizetype(e.count) * e.width > b.size()) {
                continue;
            }
            const bool list =
                e.tag == 273 || e.tag == 279 || e.tag == 324 || e.tag == 325 || e.tag == 330;
            const FieldKind kind =
                e.tag == 273 || e.tag == 324 || e.tag == 330 ? FieldKind::Offset : FieldKind::Size;
            for (std::uint32_t i = 0; i < (list ? e.count : std::min<std::uint32_t>(1, e.count));
                 ++i) {
                const std::string what =
                    directory + name + (list ? "[" + std::to_string(i) + "]" : std::string());
                s.fields.push_back(
                    IntegerField(what, e.at + qsizetype(i) * e.width, e.width, r.big(), kind));
                if (e.tag == 330) {
                    pending.push_back(value(e, i));
                }
            }
        }
        // The strips or tiles, and whether their samples are stored plain.
        const Entry offsets = find(324).count != 0 ? find(324) : find(273);
        const Entry counts = find(324).count != 0 ? find(325) : find(279);
        const Entry compression = find(259);
        const bool plainData = compression.count == 0 || value(compression, 0) == 1;
        for (std::uint32_t i = 0; i < offsets.count && i < counts.count; ++i) {
            const qsizetype first = value(offsets, i);
            const qsizetype last = std::min<qsizetype>(first + value(counts, i), b.size());
            s.boundaries.push_back(first);
            s.boundaries.push_back(last);
            if (plainData && first < last) {
                plain.emplace_back(first, last);
            }
        }
        if (const std::uint32_t next = r.number(end - 4, 4); next != 0) {
            s.fields.push_back(IntegerField(directory + "next directory offset", end - 4, 4,
                                            r.big(), FieldKind::Offset));
            pending.push_back(next);
        }
    }
    // Plain samples that follow each other are one stretch of them.
    std::sort(plain.begin(), plain.end());
    for (const auto& range : plain) {
        if (!s.plainSamples.empty() && s.plainSamples.back().second == range.first) {
            s.plainSamples.back().second = range.second;
        } else {
            s.plainSamples.push_back(range);
        }
    }
}
