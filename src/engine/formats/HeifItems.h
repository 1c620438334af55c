#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The items of a HEIF file (HEIC, AVIF) as its meta box describes them, read from the boxes
// alone: each item's type, where its data lie, its properties and its references. Every box
// of the file, and of the containers read, must fit exactly in what holds it. Offsets are into
// the file's bytes, which the caller keeps.
struct HeifItems {
    struct Range {
        std::size_t at = 0;
        std::size_t size = 0;
    };
    struct Property {
        std::string type;  // "ispe", "clap", "hvcC"
        Range content;     // after the box's header (a full box's version and flags included)
    };
    struct Item {
        std::uint32_t id = 0;
        std::string type;      // "hvc1", "av01", "grid", "Exif"; empty for an item that names none
        bool hidden = false;   // not to be shown itself (a grid's tile)
        bool located = false;  // whether iloc says where its data are
        std::vector<Range> data;  // its extents, in order, each checked to lie in the file
        std::vector<std::size_t> properties;  // into `properties`, in the order ipma lists them
        std::vector<std::size_t> essential;   // those of them a reader must understand
    };
    struct Reference {
        std::string type;  // "dimg", "auxl", "thmb"
        std::uint32_t from = 0;
        std::vector<std::uint32_t> to;
    };

    std::uint32_t primary = 0;
    std::vector<Item> items;  // by id
    std::vector<Property> properties;
    std::vector<Reference> references;  // by the item they are from

    // The item of that id, or null.
    const Item* item(std::uint32_t id) const;
    // Its first property of `type`, or null.
    const Property* property(const Item& item, std::string_view type) const;
    // The items `from` refers to by `type`, in order (a reference may repeat).
    std::vector<std::uint32_t> referenced(std::uint32_t from, std::string_view type) const;
};

// The items of the file `bytes`; `fault` says why the file cannot be whole when its boxes do
// not fit or do not describe items (then the rest is empty).
struct HeifItemsRead {
    HeifItems items;
    std::string fault;
};
HeifItemsRead ReadHeifItems(std::span<const std::uint8_t> bytes);
