#include "engine/formats/PngImageChunks.h"

#include "engine/formats/ByteReading.h"

#include <zlib.h>

#include <algorithm>

namespace {

constexpr std::uint64_t kLargestNumber = 0x7FFFFFFF;   // a chunk length's largest
constexpr std::uint64_t kOtherChunkLimit = 8'000'000;  // libpng's default for other chunks
// More chunks than a picture at the size limit in 8 KB chunks, as encoders write them, has.
constexpr std::size_t kMostChunks = 40'000;

bool letters(PngImageChunks::Bytes b) {
    return std::all_of(b.begin(), b.end(), [](std::uint8_t c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    });
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

std::optional<PngImageChunks> PngImageChunks::Walk(Bytes file, std::size_t first,
                                                   std::uint64_t dataLimit) {
    PngImageChunks chunks;
    bool inData = true;
    for (std::size_t at = first;;) {
        if (file.size() < 12 || at > file.size() - 12) {
            return std::nullopt;
        }
        const std::size_t length = bytes::be32(file, at);
        const Bytes type = file.subspan(at + 4, 4);
        const bool data = bytes::startsWith(file, "IDAT", 4, at + 4);
        const bool end = bytes::startsWith(file, "IEND", 4, at + 4);
        // libpng refuses a second header; so many chunks are left to it, which keeps none.
        if (bytes::startsWith(file, "IHDR", 4, at + 4) || chunks.checked_.size() >= kMostChunks) {
            return std::nullopt;
        }
        const std::uint64_t limit = data ? std::max(dataLimit, kOtherChunkLimit) : kOtherChunkLimit;
        if (length > limit || length > file.size() - 12 - at || !letters(type) ||
            (end && length != 0) || (at == first && !data)) {
            return std::nullopt;
        }
        inData = inData && data;
        if (inData) {
            chunks.data_.push_back(file.subspan(at + 8, length));
        }
        chunks.checked_.push_back(file.subspan(at + 4, length + 8));
        if (end) {
            return chunks;
        }
        at += 12 + length;
    }
}

bool PngImageChunks::checksumsRight() const {
    return std::all_of(checked_.begin(), checked_.end(), [](Bytes c) {
        return crc32_z(0, c.data(), c.size() - 4) == bytes::be32(c, c.size() - 4);
    });
}

PngImageChunks::Bytes PngImageChunks::joined() {
    if (data_.size() == 1) {
        return data_[0];
    }
    if (copy_.empty()) {
        std::size_t total = 0;
        for (const Bytes d : data_) {
            total += d.size();
        }
        copy_.reserve(total);
        for (const Bytes d : data_) {
            copy_.insert(copy_.end(), d.begin(), d.end());
        }
    }
    return copy_;
}
