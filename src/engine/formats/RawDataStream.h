#pragma once

#include "engine/formats/DngRawLayout.h"

#include <libraw/libraw_datastream.h>

#include <cstdint>
#include <span>
#include <vector>

// LibRaw's input: a file's bytes (which the caller owns and keeps beyond the stream), followed by
// the sensor data of a DNG as LibRaw's decoders read it in one run from one offset, once it is
// appended: the offsets of its JPEG tiles or strips as one list of tiles (LibRaw decodes JPEG
// strips only as tiles), or its plain rows top down, gathered from its strips or tiles where they
// are. Before that, LibRaw reads the file as it is.
class RawDataStream final : public LibRaw_abstract_datastream {
  public:
    explicit RawDataStream(std::span<const std::uint8_t> file) : file_(file) {}

    // Where the list begins: the pieces' offsets, 4 bytes each, in LibRaw's byte order.
    std::uint64_t appendOffsets(const DngRawLayout& layout, bool bigEndian);
    // Where the rows begin: each `layout.plainRowBytes(width)` bytes.
    std::uint64_t appendRows(const DngRawLayout& layout);
    // Whether LibRaw has read what was appended to its end.
    bool readToTheEnd() const { return furthest_ >= total(); }

    int valid() override { return 1; }
    int read(void* into, size_t size, size_t count) override;
    int seek(INT64 offset, int whence) override;
    INT64 tell() override { return INT64(at_); }
    INT64 size() override { return INT64(total()); }
    int get_char() override;
    char* gets(char* into, int size) override;
    int scanf_one(const char* format, void* value) override;
    int eof() override { return at_ >= total(); }
    void* make_jas_stream() override { return nullptr; }
    int jpeg_src(void* decompress) override;

  private:
    // The bytes from `at` (at least one) that lie in a row in memory.
    std::span<const std::uint8_t> runAt(std::uint64_t at) const;
    std::uint64_t total() const { return file_.size() + appended_; }

    std::span<const std::uint8_t> file_;
    std::uint64_t appended_ = 0;
    std::vector<std::uint8_t> list_;  // the offsets appended, when they are
    DngRawLayout rows_;               // the layout whose rows are appended, when they are
    std::uint64_t rowBytes_ = 0;
    std::uint64_t at_ = 0;
    std::uint64_t furthest_ = 0;
    // The run get_char reads from: [runStart_, runStart_ + run_.size()).
    std::span<const std::uint8_t> run_;
    std::uint64_t runStart_ = 0;
};
