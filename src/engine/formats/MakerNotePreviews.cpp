#include "engine/formats/MakerNotePreviews.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace {

using Range = std::pair<std::uint64_t, std::uint64_t>;

// Where a maker's note keeps its directory and what its offsets count from.
enum class Base { Block, Note, OwnHeader };
struct Layout {
    const char* prefix;
    std::size_t length;
    std::uint64_t directoryAt;  // from the note's start; for OwnHeader, where that header is
    Base base;
    int orderAt;  // where the note states its own byte order, -1 when it has the block's
};
constexpr Layout kLayouts[] = {
    {"Nikon\0\x02", 7, 10, Base::OwnHeader, 10},
    {"OLYMPUS\0", 8, 12, Base::Note, 8},
    {"OM SYSTEM\0", 10, 16, Base::Note, 12},
    {"OLYMP\0", 6, 8, Base::Block, -1},
    {"EPSON\0", 6, 8, Base::Block, -1},
    {"SONY DSC \0", 10, 12, Base::Block, -1},
    {"SONY CAM \0", 10, 12, Base::Block, -1},
    {"Panasonic\0", 10, 12, Base::Block, -1},
    {"AOC\0", 4, 6, Base::Note, 4},
    {"", 0, 0, Base::Block, -1},  // a directory at the note's start (Canon, Minolta, Sony)
};

// A preview kept as a start and a length, in the same directory.
constexpr std::pair<std::uint16_t, std::uint16_t> kStartAndLength[] = {
    {0x0201, 0x0202},  // the JPEG pointers of a preview directory
    {0x0101, 0x0102},  // camera settings' preview
    {0x0088, 0x0089},  // the older notes' preview
    {0x0004, 0x0003},  // a note keeping its preview's length before its start
    {0x0002, 0x0003},  // and one keeping them after its version
};
// A directory's entry of LONGs among which a preview's length and start are: the word of each.
struct PreviewWords {
    std::uint16_t tag;
    std::uint32_t length, start;
};
constexpr PreviewWords kPreviewWords[] = {{0x00B6, 2, 5}};
// Entries that lead to a directory of the note's, which may hold the preview.
constexpr std::uint16_t kSubDirectories[] = {0x0011, 0x2020};

class Clearer {
  public:
    Clearer(const ExifBytes& source, std::string& out) : s_(source), out_(out) {}

    void directory(const ExifBytes& bytes, std::uint64_t at, std::uint64_t base, int depth) {
        if (depth > 2 || !seen_.insert(at).second) {
            return;
        }
        const auto d = bytes.directory(at, base);
        if (!d) {
            return;
        }
        for (const ExifEntry& e : d->entries) {
            // An entry whose bytes are a picture.
            if (e.outside() && holdsAJpeg(e)) {
                clear(e.value, e.bytes);
                emptyField(e.at + 4, 4);
            }
            if (std::find(std::begin(kSubDirectories), std::end(kSubDirectories), e.tag) !=
                    std::end(kSubDirectories) &&
                (e.type == 4 || e.type == 13 || e.type == 7) && e.count >= 1) {
                const std::uint64_t sub =
                    e.type == 7 && e.count > 4 ? e.value - base : bytes.number(e);
                directory(bytes, base + sub, base, depth + 1);
            }
        }
        for (const auto& [startTag, lengthTag] : kStartAndLength) {
            const auto start = find(*d, startTag);
            const auto length = find(*d, lengthTag);
            if (start == nullptr || length == nullptr || start->outside() || length->outside()) {
                continue;
            }
            if (clearPreview(base, bytes.number(*start), bytes.number(*length))) {
                emptyField(length->value, std::size_t(length->bytes));
            }
        }
        for (const PreviewWords& words : kPreviewWords) {
            const auto e = find(*d, words.tag);
            if (e != nullptr && e->type == 4 && e->count > std::max(words.length, words.start) &&
                clearPreview(base, bytes.u32(e->value + 4 * words.start),
                             bytes.u32(e->value + 4 * words.length))) {
                emptyField(e->value + 4 * words.length, 4);
            }
        }
    }

    // The previews as ranges apart from each other, zeroed: entries may state the same one.
    std::vector<Range> zeroed() {
        std::sort(cleared.begin(), cleared.end());
        std::vector<Range> merged;
        for (const Range& r : cleared) {
            if (!merged.empty() && r.first <= merged.back().second) {
                merged.back().second = std::max(merged.back().second, r.second);
            } else {
                merged.push_back(r);
            }
        }
        for (const auto& [from, to] : merged) {
            if (from < out_.size()) {  // the output may end before the block does
                std::memset(out_.data() + from, 0, std::min<std::uint64_t>(to, out_.size()) - from);
            }
        }
        return merged;
    }

    std::vector<Range> cleared;

  private:
    // A JPEG from the entry's first byte, or after a header of 32 bytes with its first byte
    // zeroed, as some cameras keep their previews.
    bool holdsAJpeg(const ExifEntry& e) const {
        const auto b = s_.block();
        if (StartsAJpeg(b, e.value)) {
            return true;
        }
        const std::uint64_t at = e.value + 32;
        return e.bytes > 36 && b[at] == 0 && b[at + 1] == 0xD8 && b[at + 2] == 0xFF &&
               b[at + 3] >= 0xC0 && b[at + 3] != 0xFF;
    }

    // A preview of `length` bytes at `start`, counted from `base`, or from the block as some
    // notes count them whatever their other offsets: cleared when it begins as a JPEG.
    bool clearPreview(std::uint64_t base, std::uint64_t start, std::uint64_t length) {
        for (const std::uint64_t from : {base + start, start}) {
            if (StartsAJpeg(s_.block(), from)) {
                clear(from, std::min<std::uint64_t>(length, s_.block().size() - from));
                return true;
            }
        }
        return false;
    }

    static const ExifEntry* find(const ExifBytes::Directory& d, std::uint16_t tag) {
        for (const ExifEntry& e : d.entries) {
            if (e.tag == tag) {
                return &e;
            }
        }
        return nullptr;
    }

    void clear(std::uint64_t at, std::uint64_t size) { cleared.emplace_back(at, at + size); }

    void emptyField(std::uint64_t at, std::size_t size) {
        if (at + size <= out_.size()) {
            std::memset(out_.data() + at, 0, size);
        }
    }

    const ExifBytes& s_;
    std::string& out_;
    std::set<std::uint64_t> seen_;
};

}  // namespace

bool StartsAJpeg(std::span<const std::uint8_t> bytes, std::uint64_t at) {
    if (at + 4 > bytes.size() || bytes[at] != 0xFF || bytes[at + 1] != 0xD8 ||
        bytes[at + 2] != 0xFF) {
        return false;
    }
    std::uint64_t marker = at + 3;
    while (marker < bytes.size() && bytes[marker] == 0xFF) {
        ++marker;  // fill bytes may come before a marker
    }
    return marker < bytes.size() && bytes[marker] >= 0xC0;
}

std::vector<Range> ClearMakerNotePreviews(const ExifBytes& source, std::uint64_t at,
                                          std::uint64_t size, std::string& out) {
    const auto note = source.block().subspan(at, size);
    for (const Layout& layout : kLayouts) {
        if (size < layout.length + 8 || std::memcmp(note.data(), layout.prefix, layout.length)) {
            continue;
        }
        bool little = source.little();
        if (layout.orderAt >= 0) {
            const auto order = note.subspan(std::size_t(layout.orderAt), 2);
            if (order[0] != order[1] || (order[0] != 'I' && order[0] != 'M')) {
                continue;
            }
            little = order[0] == 'I';
        }
        const ExifBytes bytes = source.inOrder(little);
        Clearer clearer(source, out);
        switch (layout.base) {
            case Base::Block:
                clearer.directory(bytes, at + layout.directoryAt, 0, 0);
                break;
            case Base::Note:
                clearer.directory(bytes, at + layout.directoryAt, at, 0);
                break;
            case Base::OwnHeader: {
                const std::uint64_t header = at + layout.directoryAt;
                if (header + 8 > at + size) {
                    return {};
                }
                clearer.directory(bytes, header + bytes.u32(header + 4), header, 0);
                break;
            }
        }
        return clearer.zeroed();
    }
    return {};
}
