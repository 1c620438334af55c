#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The chunks of a PNG file from its first image data chunk to its end chunk, for a decoder that
// inflates the picture's data in one call. Holds spans into the file, which must outlive it.
class PngImageChunks {
  public:
    using Bytes = std::span<const std::uint8_t>;

    // The chunks of `file` from `first` (the first image data chunk's start) when each is within
    // the file, named with letters, within libpng's length limits (`dataLimit` bytes for an image
    // data chunk, its own limit for the rest), none is a header, there are not very many, and the
    // end chunk is there and empty. Anything else
    // gives nothing, and libpng then reads the file with its own rules, which refuse or pass over
    // such chunks; so what is given here is never what libpng would refuse, once the checksums
    // are right too.
    static std::optional<PngImageChunks> Walk(Bytes file, std::size_t first,
                                              std::uint64_t dataLimit);

    // The payloads of the image data chunks that follow one another from the first, in order.
    const std::vector<Bytes>& data() const { return data_; }
    // Whether every chunk's checksum is right.
    bool checksumsRight() const;
    // The image data in one piece: the chunk's own bytes, or a copy of them all, which this
    // object owns.
    Bytes joined();

  private:
    std::vector<Bytes> data_;
    std::vector<Bytes> checked_;  // every chunk's type and payload, then its checksum
    std::vector<std::uint8_t> copy_;
};

// libpng's limit on one image data chunk of a picture of `rowBytes` bytes a row (not counting
// the filter byte) and `height` rows, not interlaced.
std::uint64_t PngDataChunkLimit(std::uint64_t rowBytes, std::uint64_t height);
