#include "engine/formats/ExifForOutput.h"

#include "base/RuntimeError.h"
#include "engine/formats/ExifIfd.h"
#include "engine/formats/MakerNotePreviews.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>
#include <memory>
#include <optional>
#include <set>

namespace {

using Range = std::pair<std::uint64_t, std::uint64_t>;

enum Tag : std::uint16_t {
    ImageWidth = 0x0100,
    ImageLength = 0x0101,
    Orientation = 0x0112,
    XmpPacket = 0x02BC,
    SubIfds = 0x014A,
    ExifPointer = 0x8769,
    GpsPointer = 0x8825,
    MakerNote = 0x927C,
    PixelXDimension = 0xA002,
    PixelYDimension = 0xA003,
    InteropPointer = 0xA005,
};

// Tags of the source's own storage, which would misdescribe the grey output: the sample layout,
// strips and tiles, colour tables, tone and colour definitions and the colour profile, the
// colour filter's pattern, sub-images, and DNG's own.
constexpr std::uint16_t kStorageTags[] = {
    0x00FE, 0x0102, 0x0103, 0x0106, 0x0107, 0x0108, 0x0109, 0x010A, 0x0111, 0x0115, 0x0116,
    0x0117, 0x0118, 0x0119, 0x011C, 0x0122, 0x0123, 0x0124, 0x0125, 0x012D, 0x013D, 0x013E,
    0x013F, 0x0140, 0x0141, 0x0142, 0x0143, 0x0144, 0x0145, 0x014A, 0x0152, 0x0153, 0x0154,
    0x0155, 0x015B, 0x0201, 0x0202, 0x0211, 0x0212, 0x0213, 0x0214, 0x828D, 0x828E, 0x8773};

bool describesStorage(std::uint16_t tag) {
    return std::find(std::begin(kStorageTags), std::end(kStorageTags), tag) !=
               std::end(kStorageTags) ||
           (tag >= 0xC612 && tag <= 0xCFFF);
}

// A picture's pieces as offsets and sizes: strips, tiles, a JPEG.
constexpr std::pair<std::uint16_t, std::uint16_t> kPictureTags[] = {
    {0x0111, 0x0117}, {0x0144, 0x0145}, {0x0201, 0x0202}};

// Directories nested deeper are not followed.
constexpr int kDeepest = 4;

class ExifRewrite {
  public:
    // Keeps nothing past `limit`; reads `units` entries at most.
    ExifRewrite(std::span<const std::uint8_t> tiff, std::uint64_t limit, std::uint64_t units)
        : s_(tiff, tiff.size() >= 2 && tiff[0] == 'I', units), limit_(limit) {}

    std::optional<std::string> run(std::uint32_t width, std::uint32_t height) {
        const auto b = s_.block();
        if (b.size() < 8 ||
            !(std::memcmp(b.data(), "II*\0", 4) == 0 || std::memcmp(b.data(), "MM\0*", 4) == 0)) {
            throw RuntimeError(ErrorNumber::InvalidPicture, "its Exif has no TIFF header");
        }
        const auto first = s_.directory(s_.u32(4));
        if (!first) {
            throw RuntimeError(ErrorNumber::InvalidPicture,
                               "its Exif's first directory lies outside the block");
        }
        seen_.insert(first->at);
        const std::size_t root = rewrite(*first, Kind::Image, 0, width, height);
        // The thumbnail's directory and any after it, as far as the output's bytes reach.
        for (std::uint32_t next = first->next;
             next != 0 && next < limit_ && seen_.insert(next).second;) {
            const auto d = s_.directory(next);
            if (!d) {
                break;
            }
            dropWhole(*d, 0);
            next = d->next;
        }
        // The output is the block up to the last byte an entry keeps; the directories follow.
        const std::uint64_t end = keptBytes().back().second;
        if (end > limit_) {
            return std::nullopt;
        }
        out_.assign(reinterpret_cast<const char*>(b.data()), end);
        state_.assign(end, Untouched);
        apply();
        dropStrayPictures();
        trim();
        write(root);
        put32(4, std::uint32_t(dirs_[root].at));
        return std::move(out_);
    }

  private:
    enum State : std::uint8_t { Untouched, Dropped, Kept };
    enum class Kind { Image, Exif, Plain };

    struct Entry {
        std::uint16_t tag;
        std::array<std::uint8_t, 12> bytes;
        Range value{0, 0};      // what it keeps outside the directory
        std::size_t child = 0;  // the directory it points at; 0 (the first, never a child) for none
        bool makerNote = false;
        bool erased = false;  // its value holds a picture
    };
    struct Directory {
        std::vector<Entry> entries;
        Range old{0, 0};
        std::uint64_t at = 0;
    };

    // The directory `d` as the output has it; its index in dirs_.
    std::size_t rewrite(const ExifBytes::Directory& d, Kind kind, int depth, std::uint32_t width,
                        std::uint32_t height) {
        const std::size_t index = dirs_.size();
        dirs_.push_back({{}, {d.at, d.end}, 0});
        drop({d.at, d.end});
        std::vector<Entry> entries;
        entries.reserve(d.entries.size() + 4);
        // Tags come in rising order, so a tag listed twice follows itself; only a directory out
        // of order needs a record of every tag seen (8 KB to clear, which a thumbnail's four
        // directories would feel).
        std::unique_ptr<std::bitset<65536>> seen;
        int last = -1;
        bool hasExif = false;
        for (const ExifEntry& e : d.entries) {
            if (seen == nullptr && e.tag <= last) {
                seen = std::make_unique<std::bitset<65536>>();
                for (const ExifEntry& before : d.entries) {
                    if (&before == &e) {
                        break;
                    }
                    seen->set(before.tag);
                }
            }
            if (seen != nullptr) {
                if (seen->test(e.tag)) {
                    continue;  // listed twice: the first holds
                }
                seen->set(e.tag);
            }
            last = e.tag;
            const bool sized =
                kind == Kind::Image &&
                (e.tag == ImageWidth || e.tag == ImageLength || e.tag == Orientation);
            const bool dimension =
                kind == Kind::Exif && (e.tag == PixelXDimension || e.tag == PixelYDimension);
            if (kind == Kind::Image && describesStorage(e.tag)) {
                dropStorage(d, e, depth);
                continue;
            }
            if (sized || dimension || (kind == Kind::Image && e.tag == XmpPacket)) {
                // The XMP goes in a block of its own, where its fields are made the output's.
                dropValue(e);
                continue;
            }
            Entry kept = copied(e);
            const bool pointer =
                (kind == Kind::Image && (e.tag == ExifPointer || e.tag == GpsPointer)) ||
                (kind == Kind::Exif && e.tag == InteropPointer);
            if (pointer) {
                const auto sub = e.count == 1 && !e.outside() && depth < kDeepest
                                     ? s_.directory(s_.number(e))
                                     : std::nullopt;
                if (!sub || !seen_.insert(sub->at).second) {
                    continue;  // a pointer to nothing, or back up the tree, is left out
                }
                kept.child = rewrite(*sub, e.tag == ExifPointer ? Kind::Exif : Kind::Plain,
                                     depth + 1, width, height);
                hasExif = hasExif || e.tag == ExifPointer;
            } else if (kind == Kind::Exif && e.tag == MakerNote) {
                kept.makerNote = true;
                makerNote_ = kept.value;
            }
            entries.push_back(kept);
        }
        if (kind == Kind::Image) {
            entries.push_back(made(Orientation, 3, 1));
            entries.push_back(made(ImageWidth, 4, width));
            entries.push_back(made(ImageLength, 4, height));
            if (!hasExif) {
                // The output states its size in an Exif directory too, as cameras do.
                const std::size_t exif = dirs_.size();
                dirs_.push_back({});
                dirs_[exif].entries = {made(PixelXDimension, 4, width),
                                       made(PixelYDimension, 4, height)};
                Entry pointer = made(ExifPointer, 4, 0);
                pointer.child = exif;
                entries.push_back(pointer);
            }
        }
        if (kind == Kind::Exif) {
            entries.push_back(made(PixelXDimension, 4, width));
            entries.push_back(made(PixelYDimension, 4, height));
        }
        std::stable_sort(entries.begin(), entries.end(),
                         [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        dirs_[index].entries = std::move(entries);
        return index;
    }

    Entry copied(const ExifEntry& e) const {
        Entry kept{e.tag, {}, {0, 0}, 0, false};
        std::memcpy(kept.bytes.data(), s_.block().data() + e.at, 12);
        if (e.outside()) {
            kept.value = {e.value, e.value + e.bytes};
        } else {
            // What the value does not take of its 4 bytes is zero, as writers leave it, whatever
            // the source held there.
            std::fill(kept.bytes.begin() + 8 + std::ptrdiff_t(e.bytes), kept.bytes.end(), 0);
        }
        return kept;
    }

    Entry made(std::uint16_t tag, std::uint16_t type, std::uint32_t value) const {
        Entry e{tag, {}, {0, 0}, 0, false};
        const auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
            for (int k = 0; k < bytes; ++k) {
                const int shift = s_.little() ? 8 * k : 8 * (bytes - 1 - k);
                e.bytes[at + std::size_t(k)] = std::uint8_t(v >> shift & 0xFF);
            }
        };
        put(0, tag, 2);
        put(2, type, 2);
        put(4, 1, 4);
        put(8, value, type == 3 ? 2 : 4);
        return e;
    }

    // A storage tag's value, and the picture it holds when it is one.
    void dropStorage(const ExifBytes::Directory& d, const ExifEntry& e, int depth) {
        dropValue(e);
        for (const auto& [offsets, sizes] : kPictureTags) {
            if (e.tag == offsets) {
                dropPieces(d, offsets, sizes, 0);
            }
        }
        if (e.tag == SubIfds && depth < kDeepest && (e.type == 4 || e.type == 13)) {
            for (std::uint32_t k = 0; k < e.count && k < 64; ++k) {
                const auto sub = s_.directory(s_.u32(e.value + 4 * k));
                if (sub && seen_.insert(sub->at).second) {
                    dropWhole(*sub, depth + 1);
                }
            }
        }
    }

    void dropValue(const ExifEntry& e) {
        if (e.outside()) {
            drop({e.value, e.value + e.bytes});
        }
    }

    // The pieces a directory's offsets and sizes tags state, as far as they lie in the block.
    void dropPieces(const ExifBytes::Directory& d, std::uint16_t offsetsTag, std::uint16_t sizesTag,
                    std::uint64_t base) {
        const ExifEntry* offsets = nullptr;
        const ExifEntry* sizes = nullptr;
        for (const ExifEntry& e : d.entries) {
            offsets = e.tag == offsetsTag && offsets == nullptr ? &e : offsets;
            sizes = e.tag == sizesTag && sizes == nullptr ? &e : sizes;
        }
        const auto whole = [](const ExifEntry* e) {
            return e != nullptr && (e->type == 3 || e->type == 4 || e->type == 13);
        };
        if (!whole(offsets) || !whole(sizes)) {
            return;
        }
        const std::uint64_t size = s_.block().size();
        const std::uint32_t pieces = std::min({offsets->count, sizes->count, 4096u});
        if (!s_.spend(pieces)) {
            throw RuntimeError(ErrorNumber::InvalidPicture,
                               "its Exif states more pieces of pictures than it holds");
        }
        for (std::uint32_t k = 0; k < pieces; ++k) {
            const std::uint64_t from = base + valueAt(*offsets, k);
            const std::uint64_t length = valueAt(*sizes, k);
            if (from < size) {
                drop({from, std::min(size, from + length)});
            }
        }
    }

    std::uint32_t valueAt(const ExifEntry& e, std::uint32_t k) const {
        const std::uint64_t at = e.value + ExifBytes::typeSize(e.type) * k;
        return e.type == 3 ? s_.u16(at) : s_.u32(at);
    }

    // A directory the output leaves out, with everything it holds.
    void dropWhole(const ExifBytes::Directory& d, int depth) {
        drop({d.at, d.end});
        for (const ExifEntry& e : d.entries) {
            dropStorage(d, e, depth);
            dropValue(e);
        }
    }

    void drop(Range r) { dropped_.push_back(r); }

    // The bytes that `ranges` cover, as ranges apart from each other in order: marked one by one,
    // they cost the block's size however much the ranges overlap.
    static std::vector<Range> merged(std::vector<Range> ranges) {
        std::sort(ranges.begin(), ranges.end());
        std::vector<Range> out;
        for (const Range& r : ranges) {
            if (r.first >= r.second) {
                continue;
            }
            if (!out.empty() && r.first <= out.back().second) {
                out.back().second = std::max(out.back().second, r.second);
            } else {
                out.push_back(r);
            }
        }
        return out;
    }

    // The bytes the output's entries keep: the header and the values of the entries.
    std::vector<Range> keptBytes() const {
        std::vector<Range> kept{{0, 8}};
        for (const Directory& d : dirs_) {
            for (const Entry& e : d.entries) {
                kept.push_back(e.value);
            }
        }
        return merged(std::move(kept));
    }

    // Over the ranges' bytes that the output has.
    void mark(const std::vector<Range>& ranges, State state) {
        for (const auto& [from, to] : ranges) {
            const std::uint64_t end = std::min<std::uint64_t>(to, state_.size());
            std::fill(state_.begin() + std::ptrdiff_t(std::min(from, end)),
                      state_.begin() + std::ptrdiff_t(end), state);
        }
    }

    // Zeros what is dropped and not kept by another entry.
    void apply() {
        mark(merged(dropped_), Dropped);
        mark(keptBytes(), Kept);
        for (std::size_t i = 0; i < state_.size(); ++i) {
            if (state_[i] == Dropped) {
                out_[i] = 0;
            }
        }
        if (makerNote_.second > makerNote_.first) {
            for (const auto& [from, to] : ClearMakerNotePreviews(
                     s_, makerNote_.first, makerNote_.second - makerNote_.first, out_)) {
                for (std::uint64_t i = from; i < std::min<std::uint64_t>(to, state_.size()); ++i) {
                    state_[i] = state_[i] == Kept ? Kept : Dropped;
                }
            }
        }
    }

    // A JPEG no entry states as a picture: in bytes no entry keeps, it is cleared; in values
    // (a preview in a maker note of a layout unknown here, the note goes as a whole), the entries
    // whose values hold its start. Each entry is looked at once, in the order of its value.
    void dropStrayPictures() {
        const auto bytes =
            std::span(reinterpret_cast<const std::uint8_t*>(out_.data()), out_.size());
        struct Value {
            Range range;
            Entry* entry;
        };
        std::vector<Value> values;
        for (Directory& d : dirs_) {
            for (Entry& e : d.entries) {
                if (e.value.second > e.value.first) {
                    values.push_back({e.value, &e});
                }
            }
        }
        std::sort(values.begin(), values.end(),
                  [](const Value& a, const Value& b) { return a.range < b.range; });
        std::size_t next = 0;
        bool erased = false;
        for (std::size_t i = 8; i + 4 <= bytes.size(); ++i) {
            const void* mark = std::memchr(bytes.data() + i, 0xFF, bytes.size() - 3 - i);
            if (mark == nullptr) {
                break;
            }
            i = std::size_t(static_cast<const std::uint8_t*>(mark) - bytes.data());
            if (!StartsAJpeg(bytes, i)) {
                continue;
            }
            if (state_[i] != Kept) {
                std::size_t end = i;
                while (end < state_.size() && state_[end] != Kept) {
                    const bool last = end > i && bytes[end - 1] == 0xFF && bytes[end] == 0xD9;
                    out_[end] = 0;
                    state_[end++] = Dropped;
                    if (last) {
                        break;
                    }
                }
                i = end - 1;
                continue;
            }
            // The values starting before the picture either hold its start or end before it,
            // and so before any picture found later. Their bytes go below, but for those other
            // entries keep too (the header among them); its start goes in any case.
            for (; next < values.size() && values[next].range.first <= i; ++next) {
                if (values[next].range.second > i) {
                    values[next].entry->erased = erased = true;
                }
            }
            out_[i] = 0;
        }
        if (!erased) {
            return;
        }
        for (Directory& d : dirs_) {
            std::erase_if(d.entries, [](const Entry& e) { return e.erased; });
        }
        // What only the erased entries kept goes; what others keep too stays theirs.
        std::uint64_t from = 0;
        const std::vector<Range> kept = keptBytes();
        for (std::size_t k = 0; k <= kept.size(); ++k) {
            const std::uint64_t to = k < kept.size() ? kept[k].first : state_.size();
            for (std::uint64_t i = from; i < to; ++i) {
                if (state_[i] == Kept) {
                    state_[i] = Dropped;
                    out_[i] = 0;
                }
            }
            from = k < kept.size() ? kept[k].second : from;
        }
    }

    // The tail that held only what is dropped goes.
    void trim() {
        std::size_t end = out_.size();
        while (end > 8 && state_[end - 1] == Dropped) {
            --end;
        }
        out_.resize(end);
        state_.resize(end);
    }

    // Writes directory `index`, those it points at first: where it was when it still fits there,
    // otherwise after the block.
    void write(std::size_t index) {
        Directory& d = dirs_[index];
        for (Entry& e : d.entries) {
            if (e.child != 0) {
                write(e.child);
                // A SHORT or BYTE pointer would not hold an offset past its size, nor read the
                // offset's first bytes in a big-endian block: it becomes a LONG.
                const auto type = ExifBytes(std::span(e.bytes), s_.little()).u16(2);
                const std::uint32_t at = std::uint32_t(dirs_[e.child].at);
                for (int k = 0; k < 4; ++k) {
                    const int shift = s_.little() ? 8 * k : 8 * (3 - k);
                    e.bytes[8 + std::size_t(k)] = std::uint8_t(at >> shift & 0xFF);
                    if (k < 2 && type != 4 && type != 13) {
                        e.bytes[2 + std::size_t(k)] =
                            std::uint8_t(4 >> (s_.little() ? 8 * k : 8 * (1 - k)) & 0xFF);
                    }
                }
            }
        }
        const std::uint64_t size = 2 + 12 * d.entries.size() + 4;
        d.at = d.old.second - d.old.first >= size && d.old.first < out_.size() &&
                       free(d.old.first, d.old.first + size)
                   ? d.old.first
                   : (out_.size() + 1) / 2 * 2;
        if (out_.size() < d.at + size) {
            out_.resize(d.at + size, '\0');
            state_.resize(d.at + size, Untouched);
        }
        put16(d.at, std::uint32_t(d.entries.size()));
        std::uint64_t at = d.at + 2;
        for (const Entry& e : d.entries) {
            std::memcpy(out_.data() + at, e.bytes.data(), 12);
            at += 12;
        }
        put32(at, 0);
        std::fill(state_.begin() + std::ptrdiff_t(d.at),
                  state_.begin() + std::ptrdiff_t(d.at + size), Kept);
    }

    bool free(std::uint64_t from, std::uint64_t to) const {
        return std::none_of(
            state_.begin() + std::ptrdiff_t(std::min<std::uint64_t>(from, state_.size())),
            state_.begin() + std::ptrdiff_t(std::min<std::uint64_t>(to, state_.size())),
            [](State s) { return s == Kept; });
    }

    void put16(std::uint64_t at, std::uint32_t v) {
        out_[at] = char(s_.little() ? v & 0xFF : v >> 8 & 0xFF);
        out_[at + 1] = char(s_.little() ? v >> 8 & 0xFF : v & 0xFF);
    }
    void put32(std::uint64_t at, std::uint32_t v) {
        put16(at + (s_.little() ? 0 : 2), v & 0xFFFF);
        put16(at + (s_.little() ? 2 : 0), v >> 16);
    }

    ExifBytes s_;
    std::uint64_t limit_;
    std::string out_;
    std::vector<State> state_;
    std::vector<Directory> dirs_;
    std::vector<Range> dropped_;
    std::set<std::uint64_t> seen_;
    Range makerNote_{0, 0};
};

}  // namespace

std::string ExifForOutput(std::span<const std::uint8_t> tiff, std::uint32_t width,
                          std::uint32_t height) {
    return *ExifRewrite(tiff, tiff.size(), tiff.size() / 4).run(width, height);
}

std::optional<std::string> ExifForOutputOfFile(std::span<const std::uint8_t> file,
                                               std::uint32_t width, std::uint32_t height,
                                               std::uint64_t limit) {
    return ExifRewrite(file, limit, limit).run(width, height);
}
