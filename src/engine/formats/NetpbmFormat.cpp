#include "engine/formats/ByteReading.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/QtReader.h"

#include <cctype>
#include <optional>

// Netpbm files (PBM, PGM, PPM, as text or bytes), read by Qt: the binary kinds' samples must be
// in the file.

namespace {

using namespace bytes;
using Bytes = std::span<const std::uint8_t>;

// A number written in text from `at`, after blanks (and, in Netpbm headers, comments).
std::optional<std::uint64_t> textNumber(Bytes b, std::size_t& at, bool comments) {
    while (at < b.size() && (std::isspace(b[at]) || (comments && b[at] == '#'))) {
        if (b[at] == '#') {
            while (at < b.size() && b[at] != '\n') {
                ++at;
            }
        } else {
            ++at;
        }
    }
    std::uint64_t n = 0;
    const std::size_t start = at;
    while (at < b.size() && std::isdigit(b[at]) && n < (std::uint64_t(1) << 40)) {
        n = n * 10 + (b[at++] - '0');
    }
    return at > start ? std::optional(n) : std::nullopt;
}

// P1 to P6: "P6 width height maxval", then the samples (as text for P1 to P3).
void probeNetpbm(Bytes b, PictureProbe& p) {
    const int kind = b[1] - '0';
    std::size_t at = 2;
    const auto w = textNumber(b, at, true);
    const auto h = textNumber(b, at, true);
    if (!w || !h || *w >= (std::uint64_t(1) << 31) || *h >= (std::uint64_t(1) << 31)) {
        return;
    }
    p.width = static_cast<long long>(*w);
    p.height = static_cast<long long>(*h);
    if (kind < 4 || *w > (1u << 16) || *h > (1u << 16)) {
        return;  // text samples, or a size that the limits refuse before any decoding
    }
    std::uint64_t sampleBytes = 1;
    std::uint64_t mostValue = 1;
    if (kind != 4) {
        const auto most = textNumber(b, at, true);
        mostValue = most.value_or(65535);
        sampleBytes = mostValue > 255 ? 2 : 1;
    }
    const std::uint64_t rows = kind == 4   ? (*w + 7) / 8
                               : kind == 5 ? *w * sampleBytes
                                           : *w * 3 * sampleBytes;
    const std::uint64_t needed = at + 1 + rows * *h;
    if (needed > b.size()) {
        p.truncation = truncatedAt(needed, b.size());
        return;
    }
    // No sample may be brighter than the largest value the header states.
    if (kind != 4 && mostValue < (sampleBytes == 1 ? 255u : 65535u)) {
        for (std::size_t k = at + 1; k + sampleBytes <= needed; k += sampleBytes) {
            const std::uint64_t v = sampleBytes == 1 ? b[k] : std::uint64_t(b[k]) << 8 | b[k + 1];
            if (v > mostValue) {
                p.truncation = "the picture is truncated or corrupt (a sample is " +
                               std::to_string(v) + ", its header's largest " +
                               std::to_string(mostValue) + ")";
                return;
            }
        }
    }
    // A file may hold more pictures after the first, each with its own header; other bytes
    // after the samples mean that the header states fewer than there are.
    std::size_t after = static_cast<std::size_t>(needed);
    while (after < b.size() && std::isspace(b[after])) {
        ++after;
    }
    if (after < b.size() &&
        !(b[after] == 'P' && after + 1 < b.size() && b[after + 1] >= '1' && b[after + 1] <= '7')) {
        p.truncation = "the picture is truncated or corrupt (it holds " +
                       std::to_string(b.size() - needed) +
                       " bytes more than the samples its header states)";
    }
}

class Netpbm final : public QtReadFormat {
  public:
    PictureType type() const override { return PictureType::Netpbm; }
    const char* name() const override { return "Netpbm"; }
    bool claims(Bytes head) const override {
        return head.size() >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6' &&
               std::isspace(head[2]);
    }
    void probe(Bytes bytes, PictureProbe& p) const override { probeNetpbm(bytes, p); }

  protected:
    QByteArray readerName() const override { return {}; }
};

}  // namespace

const PictureFormat& NetpbmFormat() {
    static const Netpbm format;
    return format;
}
