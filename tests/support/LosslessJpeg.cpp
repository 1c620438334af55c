#include "support/LosslessJpeg.h"

#include <array>
#include <stdexcept>

namespace {

// Code lengths of the 17 difference categories: short for small differences, every length of
// the canonical code kept below all ones (which a JPEG code may not be).
constexpr std::array<int, 17> kLengths{2, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};

class BitWriter {
  public:
    explicit BitWriter(QByteArray& out) : out_(out) {}
    void put(std::uint32_t bits, int count) {
        for (int k = count - 1; k >= 0; --k) {
            byte_ = byte_ << 1 | (bits >> k & 1);
            if (++filled_ == 8) {
                flush();
            }
        }
    }
    // The last byte filled with ones, as the format pads.
    void finish() {
        while (filled_ != 0) {
            put(1, 1);
        }
    }

  private:
    void flush() {
        out_ += static_cast<char>(byte_);
        if (byte_ == 0xFF) {
            out_ += '\0';  // a data byte 0xFF is followed by a zero, to tell it from a marker
        }
        byte_ = 0;
        filled_ = 0;
    }
    QByteArray& out_;
    std::uint32_t byte_ = 0;
    int filled_ = 0;
};

void putMarker(QByteArray& out, int marker, const QByteArray& body) {
    out += char(0xFF);
    out += char(marker);
    const int length = int(body.size()) + 2;
    out += char(length >> 8);
    out += char(length & 0xFF);
    out += body;
}

}  // namespace

QByteArray LosslessJpegBytes(const std::vector<std::uint16_t>& samples, int width, int height,
                             int components, int bits) {
    if (std::size_t(width) * height * components != samples.size() || bits < 2 || bits > 16) {
        throw std::invalid_argument("LosslessJpegBytes: the samples do not make the picture");
    }
    // The canonical code: codes of each length in turn, in the order of the categories.
    std::array<std::uint32_t, 17> codes{};
    std::array<int, 17> order{};
    QByteArray table(17, '\0');  // class 0, id 0, then the count of codes of each length
    std::uint32_t code = 0;
    int listed = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int category = 0; category < 17; ++category) {
            if (kLengths[category] == length) {
                codes[category] = code++;
                order[listed++] = category;
                ++table[length];
            }
        }
        code <<= 1;
    }
    for (const int category : order) {
        table += char(category);
    }

    QByteArray out("\xFF\xD8", 2);
    putMarker(out, 0xC4, table);
    QByteArray frame;
    frame += char(bits);
    frame += char(height >> 8);
    frame += char(height & 0xFF);
    frame += char(width >> 8);
    frame += char(width & 0xFF);
    frame += char(components);
    for (int c = 0; c < components; ++c) {
        frame += char(c + 1);
        frame += char(0x11);
        frame += '\0';
    }
    putMarker(out, 0xC3, frame);
    QByteArray scan;
    scan += char(components);
    for (int c = 0; c < components; ++c) {
        scan += char(c + 1);
        scan += '\0';  // the one table
    }
    scan += char(1);  // predictor 1
    scan += '\0';
    scan += '\0';
    putMarker(out, 0xDA, scan);

    BitWriter writer(out);
    const std::size_t rowSamples = std::size_t(width) * components;
    for (int y = 0; y < height; ++y) {
        for (std::size_t i = 0; i < rowSamples; ++i) {
            const std::size_t at = y * rowSamples + i;
            const int predicted = i >= std::size_t(components) ? samples[at - components]
                                  : y > 0                      ? samples[at - rowSamples]
                                                               : 1 << (bits - 1);
            // Differences are taken modulo 2^16; 32768 has a category of its own, without bits.
            int diff = (int(samples[at]) - predicted) & 0xFFFF;
            if (diff >= 0x8000) {
                diff -= 0x10000;
            }
            int category = 0;
            for (int magnitude = diff < 0 ? -diff : diff; magnitude != 0; magnitude >>= 1) {
                ++category;
            }
            writer.put(codes[category], kLengths[category]);
            if (category > 0 && category < 16) {
                const int extra = diff > 0 ? diff : diff + (1 << category) - 1;
                writer.put(std::uint32_t(extra), category);
            }
        }
    }
    writer.finish();
    out += "\xFF\xD9";
    return out;
}
