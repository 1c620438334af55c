#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

// A TIFF file written for tests, in either byte order: directories in a chain or below another
// (SubIFDs), each with its entries in rising tag order and the values that do not fit in an entry
// right after it, then the blocks of data (strips, tiles) of every directory in turn, whose
// offsets and sizes two entries state.
class TiffWriter {
  public:
    explicit TiffWriter(bool bigEndian = false) : bigEndian_(bigEndian) {}

    // A new directory, its number for the calls below: the next of the chain, or, with `parent`,
    // one that the parent lists in its SubIFDs entry.
    int directory(int parent = -1);

    void shorts(int directory, std::uint16_t tag, const std::vector<std::uint16_t>& values);
    void longs(int directory, std::uint16_t tag, const std::vector<std::uint32_t>& values);
    void text(int directory, std::uint16_t tag, const char* text);
    // BYTE (1) or UNDEFINED (7) values.
    void bytes(int directory, std::uint16_t tag, std::uint16_t type, const QByteArray& values);
    // SRATIONAL (10) or RATIONAL (5) values, as fractions of 10000.
    void rationals(int directory, std::uint16_t tag, std::uint16_t type,
                   const std::vector<double>& values);
    // Blocks of data, whose offsets `offsetsTag` and sizes `countsTag` state (as LONGs): entry i
    // names block `entries[i]`, or block i when `entries` is empty.
    void blocks(int directory, std::uint16_t offsetsTag, std::uint16_t countsTag,
                const std::vector<QByteArray>& blocks, const std::vector<int>& entries = {});

    QByteArray file() const;

  private:
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count;
        QByteArray values;   // in the file's order
        int blockList = -1;  // a directory whose blocks' offsets these values are
    };
    struct Directory {
        std::vector<Entry> entries;
        std::vector<int> children;
        std::vector<QByteArray> blocks;
        std::vector<int> named;  // the block each entry of the offsets names
    };
    QByteArray number(std::uint32_t v, int width) const;
    void add(int directory, Entry entry);

    bool bigEndian_;
    std::vector<Directory> directories_;
    std::vector<int> chain_;
};
