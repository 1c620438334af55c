#include "engine/formats/CodedPictureSize.h"

#include <vector>

namespace {

using Bytes = std::span<const std::uint8_t>;

// Bits read from the most significant first; a read past the end sets `short_` and gives 0.
class BitReader {
  public:
    explicit BitReader(Bytes b) : b_(b) {}
    std::uint32_t bits(int n) {
        std::uint32_t v = 0;
        for (int k = 0; k < n; ++k) {
            if (at_ >= 8 * b_.size()) {
                short_ = true;
                return 0;
            }
            v = v << 1 | (b_[at_ / 8] >> (7 - at_ % 8) & 1);
            ++at_;
        }
        return v;
    }
    void skip(int n) {
        for (int k = 0; k < n; ++k) {
            bits(1);
        }
    }
    // An unsigned Exp-Golomb number, as HEVC codes its parameters.
    std::uint32_t ue() {
        int zeros = 0;
        while (bits(1) == 0) {
            if (++zeros > 31 || short_) {
                short_ = true;
                return 0;
            }
        }
        return std::uint32_t((std::uint64_t(1) << zeros) - 1 + bits(zeros));
    }
    // AV1's variable-length number.
    std::uint32_t uvlc() {
        int zeros = 0;
        while (bits(1) == 0) {
            if (++zeros >= 32 || short_) {
                short_ = true;
                return 0;
            }
        }
        return std::uint32_t((std::uint64_t(1) << zeros) - 1 + bits(zeros));
    }
    bool whole() const { return !short_; }

  private:
    Bytes b_;
    std::size_t at_ = 0;
    bool short_ = false;
};

// HEVC's profile_tier_level() with its general profile present.
void skipProfileTierLevel(BitReader& r, int subLayers) {
    r.skip(96);  // the general profile, tier, flags and level
    std::vector<bool> profile(subLayers), level(subLayers);
    for (int i = 0; i < subLayers; ++i) {
        profile[i] = r.bits(1) != 0;
        level[i] = r.bits(1) != 0;
    }
    if (subLayers > 0) {
        r.skip(2 * (8 - subLayers));
    }
    for (int i = 0; i < subLayers; ++i) {
        r.skip(profile[i] ? 88 : 0);
        r.skip(level[i] ? 8 : 0);
    }
}

std::optional<CodedSize> av1SequenceHeaderSize(Bytes obu) {
    BitReader r(obu);
    r.skip(4);  // the profile, a still picture
    const bool reduced = r.bits(1) != 0;
    if (reduced) {
        r.skip(5);
    } else {
        bool decoderModel = false;
        int delayLength = 0;
        if (r.bits(1) != 0) {  // timing information
            r.skip(64);
            if (r.bits(1) != 0) {
                r.uvlc();
            }
            decoderModel = r.bits(1) != 0;
            if (decoderModel) {
                delayLength = int(r.bits(5)) + 1;
                r.skip(32 + 5 + 5);
            }
        }
        const bool displayDelay = r.bits(1) != 0;
        const int points = int(r.bits(5)) + 1;
        for (int i = 0; i < points && r.whole(); ++i) {
            r.skip(12);
            if (r.bits(5) > 7) {
                r.skip(1);
            }
            if (decoderModel && r.bits(1) != 0) {
                r.skip(2 * delayLength + 1);
            }
            if (displayDelay && r.bits(1) != 0) {
                r.skip(4);
            }
        }
    }
    const int widthBits = int(r.bits(4)) + 1;
    const int heightBits = int(r.bits(4)) + 1;
    const std::uint64_t width = std::uint64_t(r.bits(widthBits)) + 1;
    const std::uint64_t height = std::uint64_t(r.bits(heightBits)) + 1;
    if (!r.whole()) {
        return std::nullopt;
    }
    return CodedSize{std::uint32_t(width), std::uint32_t(height)};
}

}  // namespace

std::optional<CodedSize> HevcParameterSetSize(std::span<const std::uint8_t> nal) {
    if (nal.size() < 2 || (nal[0] >> 1 & 0x3F) != 33) {
        return std::nullopt;
    }
    // The payload, without the bytes that keep start codes out of it.
    std::vector<std::uint8_t> payload;
    payload.reserve(nal.size());
    int zeros = 0;
    for (std::size_t k = 2; k < nal.size(); ++k) {
        if (zeros >= 2 && nal[k] == 3) {
            zeros = 0;
            continue;
        }
        zeros = nal[k] == 0 ? zeros + 1 : 0;
        payload.push_back(nal[k]);
    }
    BitReader r(payload);
    r.skip(4);  // the video parameter set
    const int subLayers = int(r.bits(3));
    r.skip(1);
    skipProfileTierLevel(r, subLayers);
    r.ue();  // its own number
    const std::uint32_t chroma = r.ue();
    const bool separatePlanes = chroma == 3 && r.bits(1) != 0;
    const std::uint64_t width = r.ue();
    const std::uint64_t height = r.ue();
    std::uint64_t left = 0, right = 0, top = 0, bottom = 0;
    if (r.bits(1) != 0) {
        left = r.ue();
        right = r.ue();
        top = r.ue();
        bottom = r.ue();
    }
    if (!r.whole() || chroma > 3) {
        return std::nullopt;
    }
    // The window counts in chroma samples.
    const std::uint64_t unitX = !separatePlanes && (chroma == 1 || chroma == 2) ? 2 : 1;
    const std::uint64_t unitY = !separatePlanes && chroma == 1 ? 2 : 1;
    if (unitX * (left + right) >= width || unitY * (top + bottom) >= height) {
        return std::nullopt;
    }
    return CodedSize{std::uint32_t(width - unitX * (left + right)),
                     std::uint32_t(height - unitY * (top + bottom))};
}

std::optional<CodedSize> HevcConfigurationSize(std::span<const std::uint8_t> hvcC) {
    if (hvcC.size() < 23) {
        return std::nullopt;
    }
    std::size_t at = 23;
    for (std::uint32_t array = 0; array < hvcC[22]; ++array) {
        if (hvcC.size() - at < 3) {
            return std::nullopt;
        }
        const std::uint32_t units = std::uint32_t(hvcC[at + 1]) << 8 | hvcC[at + 2];
        at += 3;
        for (std::uint32_t k = 0; k < units; ++k) {
            if (hvcC.size() - at < 2) {
                return std::nullopt;
            }
            const std::size_t length = std::size_t(hvcC[at]) << 8 | hvcC[at + 1];
            at += 2;
            if (hvcC.size() - at < length) {
                return std::nullopt;
            }
            if (const auto size = HevcParameterSetSize(hvcC.subspan(at, length))) {
                return size;
            }
            at += length;
        }
    }
    return std::nullopt;
}

Av1Sequence Av1SequenceSize(std::span<const std::uint8_t> data) {
    Av1Sequence sequence;
    std::size_t at = 0;
    while (at < data.size()) {
        const std::size_t start = at;
        const std::uint8_t header = data[at++];
        const int type = header >> 3 & 15;
        if ((header & 0x80) != 0) {
            sequence.fault = "its AV1 data at " + std::to_string(start) + " begin no unit";
            return sequence;
        }
        at += (header >> 2 & 1);  // the extension
        // Only the last unit may leave its size unstated, running to the end.
        const bool sized = (header & 0x02) != 0;
        std::uint64_t size = sized || at > data.size() ? 0 : data.size() - at;
        for (int k = 0; sized || at > data.size(); ++k) {
            if (at >= data.size() || k == 8) {
                sequence.fault = "its AV1 data end in a unit's header, at " + std::to_string(start);
                return sequence;
            }
            size |= std::uint64_t(data[at] & 0x7F) << (7 * k);
            if ((data[at++] & 0x80) == 0) {
                break;
            }
        }
        if (size > data.size() - at) {
            sequence.fault = "its AV1 data hold a unit of " + std::to_string(size) + " bytes at " +
                             std::to_string(start) + ", " + std::to_string(data.size() - at) +
                             " remain";
            return sequence;
        }
        if (type == 1) {  // a sequence header
            const auto stated = av1SequenceHeaderSize(data.subspan(at, std::size_t(size)));
            if (!stated || (sequence.size && !(*stated == *sequence.size))) {
                sequence.fault = stated ? "its AV1 sequence headers state different sizes"
                                        : "its AV1 sequence header cannot be read";
                return sequence;
            }
            sequence.size = stated;
        }
        at += std::size_t(size);
    }
    return sequence;
}
