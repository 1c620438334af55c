#include "engine/formats/HeifLayout.h"

#include "engine/formats/CodedPictureSize.h"
#include "engine/formats/HeifItems.h"
#include "filter/BlackWhiteFilter.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::span<const std::uint8_t>;
using Item = HeifItems::Item;

struct Size {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    bool operator==(const Size&) const = default;
};

std::string text(Size s) {
    return std::to_string(s.width) + " x " + std::to_string(s.height);
}

std::uint32_t be32(Bytes b, std::size_t at) {
    return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
           std::uint32_t(b[at + 2]) << 8 | b[at + 3];
}

bool isCoded(const std::string& type) {
    return type == "hvc1" || type == "av01";
}

class Reader {
  public:
    Reader(Bytes b, const HeifItems& items, HeifLayout& out) : b_(b), items_(items), out_(out) {}

    void read() {
        const Item* primary = items_.item(items_.primary);
        if (primary == nullptr) {
            fault("its primary item " + std::to_string(items_.primary) + " is not described");
            return;
        }
        // What is shown is never a piece of another picture.
        if (primary->hidden || !items_.referenced(primary->id, "auxl").empty()) {
            fault("its primary item " + std::to_string(primary->id) + " is " +
                  (primary->hidden ? "hidden" : "an auxiliary picture"));
            return;
        }
        const std::optional<Size> size = picture(*primary);
        if (!size) {
            return;
        }
        std::vector<const Item*> alphas;
        for (const Item& item : items_.items) {
            if (!isAlpha(item)) {
                continue;
            }
            const std::vector<std::uint32_t> of = items_.referenced(item.id, "auxl");
            if (of.empty()) {
                // An alpha picture belongs to a picture; one that lost its link would leave
                // the picture without its alpha.
                fault("its alpha picture, item " + std::to_string(item.id) + ", is of no picture");
                return;
            }
            if (std::find(of.begin(), of.end(), primary->id) != of.end()) {
                alphas.push_back(&item);
            }
        }
        if (alphas.size() > 1) {
            fault("it holds " + std::to_string(alphas.size()) + " alpha pictures for its picture");
            return;
        }
        if (alphas.size() == 1) {
            const std::optional<Size> alpha = picture(*alphas.front());
            if (alpha && !(*alpha == *size)) {
                fault("its alpha picture is " + text(*alpha) + ", its picture " + text(*size));
            }
        }
    }

  private:
    bool isAlpha(const Item& item) const {
        const HeifItems::Property* auxC = items_.property(item, "auxC");
        if (auxC == nullptr || auxC->content.size < 4) {
            return false;
        }
        const Bytes urn = b_.subspan(auxC->content.at + 4, auxC->content.size - 4);
        const std::string kind(urn.begin(), std::find(urn.begin(), urn.end(), 0));
        return kind == "urn:mpeg:avc:2015:auxid:1" || kind == "urn:mpeg:hevc:2015:auxid:1" ||
               kind == "urn:mpeg:mpegB:cicp:systems:auxiliary:alpha";
    }

    std::nullopt_t fault(const std::string& why) {
        if (out_.fault.empty() && out_.unsupported.empty()) {
            out_.fault = why;
        }
        return std::nullopt;
    }
    std::nullopt_t unsupported(const std::string& why) {
        if (out_.fault.empty() && out_.unsupported.empty()) {
            out_.unsupported = why;
        }
        return std::nullopt;
    }

    static std::string name(const Item& item) {
        return "its item " + std::to_string(item.id) + " (" + item.type + ")";
    }

    Bytes contentOf(const HeifItems::Property& p) const {
        return b_.subspan(p.content.at, p.content.size);
    }

    std::vector<std::uint8_t> dataOf(const Item& item) const {
        std::vector<std::uint8_t> data;
        for (const HeifItems::Range& r : item.data) {
            data.insert(data.end(), b_.begin() + std::ptrdiff_t(r.at),
                        b_.begin() + std::ptrdiff_t(r.at + r.size));
        }
        return data;
    }

    bool beyondLimits(Size s) const {
        return s.width > std::uint64_t(kFilterMaxWidth) ||
               s.height > std::uint64_t(kFilterMaxHeight);
    }

    // The size the item's ispe states.
    std::optional<Size> stated(const HeifItems::Property& ispe, const Item& item) {
        if (ispe.content.size < 12) {
            return fault(name(item) + "'s ispe box holds " + std::to_string(ispe.content.size) +
                         " bytes");
        }
        return Size{be32(b_, ispe.content.at + 4), be32(b_, ispe.content.at + 8)};
    }

    void count(Size piece) {
        const std::uint64_t pixels = piece.width * piece.height;
        out_.pieces.pixels += pixels;
        out_.pieces.largestPixels = std::max(out_.pieces.largestPixels, pixels);
        ++out_.pieces.count;
    }

    // A coded picture: the size its own headers state.
    std::optional<Size> coded(const Item& item) {
        if (!item.located) {
            return unsupported(name(item) + " has its data in another file or item");
        }
        std::size_t length = 0;
        for (const HeifItems::Range& r : item.data) {
            length += r.size;
        }
        if (length == 0) {
            return fault(name(item) + " has no data");
        }
        std::optional<CodedSize> codedSize;
        if (item.type == "hvc1") {
            const HeifItems::Property* hvcC = items_.property(item, "hvcC");
            if (hvcC == nullptr) {
                return fault(name(item) + " has no HEVC configuration (hvcC)");
            }
            codedSize = HevcConfigurationSize(contentOf(*hvcC));
            if (!codedSize) {
                return fault(name(item) + "'s HEVC configuration states no picture size");
            }
        } else {
            const HeifItems::Property* av1C = items_.property(item, "av1C");
            if (av1C == nullptr || av1C->content.size < 4) {
                return fault(name(item) + " has no AV1 configuration (av1C)");
            }
            // Its data in one piece, as nearly always, or joined.
            std::vector<std::uint8_t> joined;
            const Bytes data = item.data.size() == 1
                                   ? b_.subspan(item.data.front().at, item.data.front().size)
                                   : Bytes(joined = dataOf(item));
            for (const Bytes part : {contentOf(*av1C).subspan(4), data}) {
                const Av1Sequence sequence = Av1SequenceSize(part);
                if (!sequence.fault.empty()) {
                    return fault(name(item) + ": " + sequence.fault);
                }
                if (sequence.size && codedSize && !(*sequence.size == *codedSize)) {
                    return fault(name(item) + "'s AV1 sequence headers state different sizes");
                }
                codedSize = codedSize ? codedSize : sequence.size;
            }
            if (!codedSize) {
                return fault(name(item) + " has no AV1 sequence header");
            }
        }
        const Size size{codedSize->width, codedSize->height};
        if (beyondLimits(size)) {
            return unsupported(name(item) + " is " + text(size) + " pixels; at most " +
                               text({kFilterMaxWidth, kFilterMaxHeight}) + " are decoded");
        }
        out_.pieces.av1 = out_.pieces.av1 || item.type == "av01";
        count(size);
        return size;
    }

    std::optional<Size> grid(const Item& item) {
        if (!item.located) {
            return unsupported("its grid has its description in another file or item");
        }
        const std::vector<std::uint8_t> d = dataOf(item);
        const bool wide = d.size() > 1 && (d[1] & 1) != 0;
        if (d.size() < (wide ? 12u : 8u)) {
            return fault("its grid's description holds " + std::to_string(d.size()) + " bytes");
        }
        if (d[0] != 0) {
            return unsupported("a grid of version " + std::to_string(d[0]));
        }
        const std::uint32_t rows = d[2] + 1u;
        const std::uint32_t columns = d[3] + 1u;
        const Size output =
            wide ? Size{be32(d, 4), be32(d, 8)}
                 : Size{std::uint64_t(d[4]) << 8 | d[5], std::uint64_t(d[6]) << 8 | d[7]};
        const std::string grid =
            "its grid of " + std::to_string(columns) + " x " + std::to_string(rows) + " tiles";
        if (rows * columns > kMostGridTiles) {
            return unsupported(grid + "; at most " + std::to_string(kMostGridTiles) +
                               " tiles are decoded");
        }
        const std::vector<std::uint32_t> tiles = items_.referenced(item.id, "dimg");
        if (tiles.size() != rows * columns) {
            return fault(grid + " refers to " + std::to_string(tiles.size()));
        }
        std::optional<Size> tile;
        std::string coding;
        for (const std::uint32_t id : tiles) {
            const Item* t = items_.item(id);
            if (t == nullptr) {
                return fault(grid + " refers to item " + std::to_string(id) +
                             ", which the file does not describe");
            }
            if (!isCoded(t->type) || (!coding.empty() && t->type != coding)) {
                return unsupported("a grid of '" + t->type + "' tiles" +
                                   (coding.empty() ? "" : " beside '" + coding + "' ones"));
            }
            coding = t->type;
            for (const std::size_t p : t->properties) {
                const std::string& type = items_.properties[p].type;
                if (type == "irot" || type == "imir" || type == "clap") {
                    return unsupported("a grid whose tiles are turned, mirrored or cropped each");
                }
            }
            const std::optional<Size> size = tileOf(*t);
            if (!size) {
                return std::nullopt;
            }
            if (tile && !(*size == *tile)) {
                return fault(grid + " holds tiles of " + text(*tile) + " and of " + text(*size));
            }
            tile = size;
        }
        // The tiles cover the output with less than one tile to spare, as the format requires:
        // an output larger would have a border no tile paints.
        if (columns * tile->width < output.width || (columns - 1) * tile->width >= output.width ||
            rows * tile->height < output.height || (rows - 1) * tile->height >= output.height) {
            return fault(grid + " of " + text(*tile) + " states an output of " + text(output));
        }
        if (beyondLimits(output)) {
            return unsupported(grid + " makes " + text(output) + " pixels; at most " +
                               text({kFilterMaxWidth, kFilterMaxHeight}) + " are decoded");
        }
        out_.pieces.canvasPixels += output.width * output.height;
        return output;
    }

    // A clean aperture must lie within the picture it crops; the picture is then its size.
    std::optional<Size> crop(const HeifItems::Property& clap, Size size) {
        if (clap.content.size < 32) {
            return fault("its clap box holds " + std::to_string(clap.content.size) + " bytes");
        }
        std::int64_t v[8];
        for (int k = 0; k < 8; ++k) {
            v[k] = be32(b_, clap.content.at + 4 * std::size_t(k));
        }
        v[4] = std::int32_t(std::uint32_t(v[4]));  // the offsets are signed
        v[6] = std::int32_t(std::uint32_t(v[6]));
        const std::string aperture = "its clean aperture (clap) of " + std::to_string(v[0]) + "/" +
                                     std::to_string(v[1]) + " x " + std::to_string(v[2]) + "/" +
                                     std::to_string(v[3]);
        for (const int k : {0, 1, 2, 3, 5, 7}) {
            if (v[k] <= 0 || v[k] > 0x7FFFFFFF) {
                return fault(aperture + " cannot be a crop");
            }
        }
        // The aperture's centre is offset from the picture's: |2 offset| <= side - aperture.
        const auto within = [](__int128 n, __int128 d, __int128 off, __int128 offD,
                               std::uint64_t side) {
            const __int128 twice = 2 * off * d;
            return (twice < 0 ? -twice : twice) <= (__int128(side) * d - n) * offD;
        };
        if (!within(v[0], v[1], v[4], v[5], size.width) ||
            !within(v[2], v[3], v[6], v[7], size.height)) {
            return fault(aperture + " reaches beyond the " + text(size) + " picture");
        }
        const Size cropped{std::uint64_t((v[0] + v[1] / 2) / v[1]),
                           std::uint64_t((v[2] + v[3] / 2) / v[3])};
        if (cropped.width == 0 || cropped.height == 0) {
            return fault(aperture + " holds no pixels");
        }
        return cropped;
    }

    // A grid's tile, decoded as often as it is placed, checked once.
    std::optional<Size> tileOf(const Item& tile) {
        if (const auto known = tiles_.find(tile.id); known != tiles_.end()) {
            count(known->second);
            return known->second;
        }
        if (!understood(tile)) {
            return std::nullopt;
        }
        const std::optional<Size> made = coded(tile);
        const std::optional<Size> size = made ? shown(tile, *made) : std::nullopt;
        if (size) {
            tiles_[tile.id] = *size;
        }
        return size;
    }

    // The item's picture as shown, from the picture decoded (`made`): turned and cropped in the
    // order its properties list them, as libheif applies them. Its ispe must state the size at
    // its place in that order: the picture's, before any turn or crop, but this libheif's own
    // files state the size shown, after a turn and a crop listed first.
    std::optional<Size> shown(const Item& item, Size made) {
        Size size = made;
        bool sized = false;
        bool cropped = false;
        for (const std::size_t p : item.properties) {
            const HeifItems::Property& property = items_.properties[p];
            if (property.type == "ispe" && !sized) {
                const std::optional<Size> ispe = stated(property, item);
                if (!ispe) {
                    return std::nullopt;
                }
                if (!(*ispe == size)) {
                    const char* what = size == made ? ", its picture is "
                                                    : ", its picture as turned or cropped is ";
                    return fault(name(item) + " states " + text(*ispe) + " pixels (ispe)" + what +
                                 text(size));
                }
                sized = true;
            } else if (property.type == "irot") {
                if (property.content.size < 1) {
                    return fault("its irot box is empty");
                }
                if ((b_[property.content.at] & 1) != 0) {
                    std::swap(size.width, size.height);
                }
                // libheif turns the planes into a copy: of all it decoded, before any crop.
                out_.pieces.turned = out_.pieces.turned || !cropped;
            } else if (property.type == "clap") {
                const std::optional<Size> aperture = crop(property, size);
                if (!aperture) {
                    return std::nullopt;
                }
                size = *aperture;
                cropped = true;
            }
        }
        if (!sized) {
            return fault(name(item) + " states no size (ispe)");
        }
        return size;
    }

    // Every property the item says must be understood is one libheif applies or that leaves its
    // pixels alone: another (a property whose name was garbled, say) would change the picture.
    bool understood(const Item& item) {
        static constexpr std::string_view kKnown[] = {"hvcC", "av1C", "ispe", "irot",
                                                      "imir", "clap", "colr", "pixi",
                                                      "auxC", "pasp", "clli", "mdcv"};
        for (const std::size_t p : item.essential) {
            const std::string& type = items_.properties[p].type;
            if (std::find(std::begin(kKnown), std::end(kKnown), type) == std::end(kKnown)) {
                unsupported(name(item) + " needs a property '" + type + "' that is not read");
                return false;
            }
        }
        return true;
    }

    std::optional<Size> picture(const Item& item) {
        if (!understood(item)) {
            return std::nullopt;
        }
        std::optional<Size> made;
        if (isCoded(item.type)) {
            made = coded(item);
        } else if (item.type == "grid") {
            made = grid(item);
        } else {
            return unsupported("its picture is of type '" + item.type + "', which is not read");
        }
        return made ? shown(item, *made) : std::nullopt;
    }

    Bytes b_;
    const HeifItems& items_;
    HeifLayout& out_;
    std::map<std::uint32_t, Size> tiles_;  // the tiles checked, by item
};

}  // namespace

HeifLayout ReadHeifLayout(std::span<const std::uint8_t> bytes) {
    HeifLayout layout;
    const HeifItemsRead read = ReadHeifItems(bytes);
    if (!read.fault.empty()) {
        layout.fault = read.fault;
        return layout;
    }
    Reader(bytes, read.items, layout).read();
    return layout;
}
