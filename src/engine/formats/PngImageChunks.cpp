#include "engine/formats/PngImageChunks.h"

#include "engine/formats/ByteReading.h"

#include <zlib.h>

#include <algorithm>

namespace {

using namespace bytes;

constexpr std::uint64_t kLargestNumber = 0x7FFFFFFF;   // a chunk length's largest
constexpr std::uint64_t kOtherChunkLimit = 8'000'000;  // libpng's default for other chunks

bool letters(Bytes b, std::size_t at) {
    return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(at),
                       b.begin() + static_cast<std::ptrdiff_t>(at + 4), [](std::uint8_t c) {
                           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
                       });
}

struct Chunk {
    std::size_t at = 0;  // of its length field
    std::size_t length = 0;
    bool imageData = false;
    bool end = false;
};

// The chunk at `at` when it is whole and right, as said above.
std::optional<Chunk> chunkAt(Bytes b, std::size_t at, std::uint64_t dataLimit) {
    if (b.size() < 12 || at > b.size() - 12) {
        return std::nullopt;
    }
    Chunk c{at, be32(b, at), startsWith(b, "IDAT", 4, at + 4), startsWith(b, "IEND", 4, at + 4)};
    const std::uint64_t limit =
        c.imageData ? std::max(dataLimit, kOtherChunkLimit) : kOtherChunkLimit;
    if (c.length > limit || c.length > b.size() - 12 - at || !letters(b, at + 4) ||
        (c.end && c.length != 0)) {
        return std::nullopt;
    }
    const auto crc = crc32_z(0, b.data() + at + 4, c.length + 4);
    if (crc != be32(b, at + 8 + c.length)) {
        return std::nullopt;
    }
    return c;
}

}  // namespace

std::uint64_t PngDataChunkLimit(std::uint64_t rowBytes, std::uint64_t height) {
    const std::uint64_t rowFactor = rowBytes + 1;
    if (height > 0xFFFFFFFFULL / rowFactor) {
        return kLargestNumber;
    }
    const std::uint64_t data = height * rowFactor;
    const std::uint64_t limit =
        data + 6 + 5 * (data / std::min<std::uint64_t>(rowFactor, 32566) + 1);
    return std::min(limit, kLargestNumber);
}

std::optional<PngImageChunks> GatherPngImageChunks(std::span<const std::uint8_t> file,
                                                   std::size_t first, std::uint64_t dataLimit) {
    std::vector<Chunk> data;
    std::size_t total = 0;
    std::size_t at = first;
    for (bool inData = true;;) {
        const std::optional<Chunk> chunk = chunkAt(file, at, dataLimit);
        if (!chunk || (data.empty() && !chunk->imageData)) {
            return std::nullopt;
        }
        inData = inData && chunk->imageData;
        if (inData) {
            data.push_back(*chunk);
            total += chunk->length;
        }
        if (chunk->end) {
            break;
        }
        at += 12 + chunk->length;
    }
    PngImageChunks chunks;
    if (data.size() == 1) {
        chunks.data = file.subspan(data[0].at + 8, data[0].length);
        return chunks;
    }
    chunks.joined.reserve(total);
    for (const Chunk& c : data) {
        const auto begin = file.begin() + static_cast<std::ptrdiff_t>(c.at + 8);
        chunks.joined.insert(chunks.joined.end(), begin,
                             begin + static_cast<std::ptrdiff_t>(c.length));
    }
    chunks.data = chunks.joined;
    return chunks;
}
