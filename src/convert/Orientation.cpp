#include "convert/Orientation.h"

#include <cstring>

namespace {

// Reads the TIFF structure inside an Exif block; every offset is checked against the block.
class TiffReader {
  public:
    TiffReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    int orientation() const {
        if (size_ < 8) {
            return 1;
        }
        if (std::memcmp(data_, "II*\0", 4) == 0) {
            little_ = true;
        } else if (std::memcmp(data_, "MM\0*", 4) == 0) {
            little_ = false;
        } else {
            return 1;
        }
        const std::uint32_t ifd = u32(4);
        if (std::size_t{ifd} + 2 > size_) {  // in 64 bits: ifd may be near 4 GB
            return 1;
        }
        const int count = u16(ifd);
        for (int i = 0; i < count; ++i) {
            const std::size_t entry = ifd + 2 + 12 * static_cast<std::size_t>(i);
            if (entry + 12 > size_) {
                return 1;
            }
            if (u16(entry) == 0x0112 && u16(entry + 2) == 3) {  // Orientation, a SHORT
                const int value = u16(entry + 8);
                return value >= 1 && value <= 8 ? value : 1;
            }
        }
        return 1;
    }

  private:
    std::uint16_t u16(std::size_t at) const {
        return little_ ? static_cast<std::uint16_t>(data_[at] | data_[at + 1] << 8)
                       : static_cast<std::uint16_t>(data_[at] << 8 | data_[at + 1]);
    }
    std::uint32_t u32(std::size_t at) const {
        return little_ ? std::uint32_t(u16(at)) | std::uint32_t(u16(at + 2)) << 16
                       : std::uint32_t(u16(at)) << 16 | std::uint32_t(u16(at + 2));
    }

    const std::uint8_t* data_;
    std::size_t size_;
    mutable bool little_ = true;
};

}  // namespace

int JpegExifOrientation(const std::uint8_t* jpeg, std::size_t size) {
    std::size_t at = 2;  // after the start-of-image marker
    while (at + 4 <= size && jpeg[at] == 0xFF) {
        const std::uint8_t marker = jpeg[at + 1];
        if (marker == 0xDA || marker == 0xD9) {  // the picture data begins: no Exif before it
            return 1;
        }
        const std::size_t length = static_cast<std::size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (length < 2 || at + 2 + length > size) {
            return 1;
        }
        if (marker == 0xE1 && length >= 8 && std::memcmp(jpeg + at + 4, "Exif\0\0", 6) == 0) {
            return TiffReader(jpeg + at + 10, length - 8).orientation();
        }
        at += 2 + length;
    }
    return 1;
}

BgrxImage Orient(BgrxImage picture, int orientation) {
    if (orientation <= 1 || orientation > 8) {
        return picture;
    }
    const int w = picture.width();
    const int h = picture.height();
    const bool swap = SwapsSides(orientation);
    BgrxImage out(swap ? h : w, swap ? w : h);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* src = picture.row(y);
        for (int x = 0; x < w; ++x) {
            // Where the stored pixel (x, y) lands in the upright picture.
            int ox = x;
            int oy = y;
            switch (orientation) {
                case 2:
                    ox = w - 1 - x;
                    break;
                case 3:
                    ox = w - 1 - x;
                    oy = h - 1 - y;
                    break;
                case 4:
                    oy = h - 1 - y;
                    break;
                case 5:
                    ox = y;
                    oy = x;
                    break;
                case 6:
                    ox = h - 1 - y;
                    oy = x;
                    break;
                case 7:
                    ox = h - 1 - y;
                    oy = w - 1 - x;
                    break;
                case 8:
                    ox = y;
                    oy = w - 1 - x;
                    break;
            }
            std::memcpy(out.row(oy) + 4 * static_cast<std::ptrdiff_t>(ox), src + 4 * x, 4);
        }
    }
    return out;
}
