#pragma once

#include <QByteArray>

#include <cstdint>
#include <string>
#include <vector>

// The boxes of a HEIF file (HEIC, AVIF) for tests, read on their own terms and not the loader's:
// every box, the items its meta box describes and where their data lie; and boxes written, for
// files laid out by hand. Readers throw std::runtime_error for what does not fit.

struct IsoBox {
    std::string type;
    qsizetype at = 0;              // where its size field begins
    qsizetype size = 0;            // the whole box, header included
    int sizeWidth = 4;             // 8 for a box whose size is the 64-bit one after its type
    qsizetype sizeAt = 0;          // where the size that counts is
    qsizetype content = 0;         // after its type (and large size): a full box's version first
    std::vector<IsoBox> children;  // of the containers the meta box holds

    qsizetype end() const { return at + size; }
};

// Every box of the file, with the children of those that hold boxes.
std::vector<IsoBox> IsoBoxesOf(const QByteArray& bytes);

// The first box of `type` in `boxes` and their children, depth first; null when there is none.
const IsoBox* FindIsoBox(const std::vector<IsoBox>& boxes, const std::string& type);

// One piece of an item's data: its numbers and where the file states them.
struct IsoExtent {
    std::uint64_t offset = 0;  // as stated, before the base offset
    std::uint64_t length = 0;
    qsizetype offsetAt = 0;
    int offsetSize = 0;  // in bytes; 0 when the field is absent
    qsizetype lengthAt = 0;
    int lengthSize = 0;
    qsizetype start = 0;  // in the file
};

struct IsoItem {
    std::uint32_t id = 0;
    std::string type;            // "hvc1", "av01", "grid", "Exif"
    int constructionMethod = 0;  // 0 in the file, 1 in the meta box's idat
    std::vector<IsoExtent> extents;
    std::vector<int> properties;  // indexes into IsoItems::properties
};

struct IsoReference {
    std::string type;  // "dimg", "auxl", "thmb", "cdsc"
    std::uint32_t from = 0;
    std::vector<std::uint32_t> to;
};

struct IsoItems {
    std::uint32_t primary = 0;
    std::vector<IsoItem> items;
    std::vector<const IsoBox*> properties;  // the boxes in ipco, in order
    std::vector<IsoReference> references;

    const IsoItem& item(std::uint32_t id) const;
    // The item's property of `type`, or null.
    const IsoBox* property(const IsoItem& item, const std::string& type) const;
    // Its data, its extents joined.
    QByteArray dataOf(const QByteArray& bytes, const IsoItem& item) const;
    // The items `from` refers to by `type`, in order.
    std::vector<std::uint32_t> referenced(std::uint32_t from, const std::string& type) const;
};

// The items of the meta box in `boxes` (which must outlive the result).
IsoItems IsoItemsOf(const QByteArray& bytes, const std::vector<IsoBox>& boxes);

// Boxes written: a plain one and a full one (with its version and flags), around `content`.
QByteArray IsoBoxBytes(const char* type, const QByteArray& content);
QByteArray IsoFullBoxBytes(const char* type, int version, std::uint32_t flags,
                           const QByteArray& content);
// Big-endian whole numbers of 1, 2 or 4 bytes.
QByteArray BigEndian(std::uint32_t value, int width);
