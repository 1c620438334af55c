#include "engine/ContactSheet.h"

#include <array>
#include <cstring>
#include <string>

namespace {

// Captions need digits, B, G, Y and a space: a 5 × 7 font of its own, drawn twice its size, so
// that a sheet looks the same on every machine and needs no fonts on a server.
const std::array<std::uint8_t, 7>& glyph(char c) {
    static const std::array<std::uint8_t, 7> digits[10] = {
        {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
        {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
        {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
        {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
        {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
    };
    static const std::array<std::uint8_t, 7> b = {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E};
    static const std::array<std::uint8_t, 7> g = {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F};
    static const std::array<std::uint8_t, 7> y = {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04};
    static const std::array<std::uint8_t, 7> blank{};
    if (c >= '0' && c <= '9') {
        return digits[c - '0'];
    }
    return c == 'B' ? b : c == 'G' ? g : c == 'Y' ? y : blank;
}

constexpr int kScale = 2;             // screen pixels per font pixel
constexpr int kAdvance = 6 * kScale;  // a glyph and the gap after it

void drawText(GreyImage& sheet, int left, int top, const std::string& text, int rightEdge) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int x0 = left + static_cast<int>(i) * kAdvance;
        if (x0 + 5 * kScale > rightEdge) {
            return;  // a cell narrower than its caption shows what fits
        }
        const auto& rows = glyph(text[i]);
        for (int r = 0; r < 7 * kScale; ++r) {
            std::uint8_t* line = sheet.row(top + r);
            for (int c = 0; c < 5 * kScale; ++c) {
                if (rows[r / kScale] & (0x10 >> (c / kScale))) {
                    line[x0 + c] = 0;
                }
            }
        }
    }
}

}  // namespace

ContactSheet::ContactSheet(int cellWidth, int cellHeight, const std::vector<int>& black,
                           const std::vector<int>& gradient, const std::vector<int>& gray)
    : cellWidth_(cellWidth), cellHeight_(cellHeight) {
    for (int y : gray) {
        for (int g : gradient) {
            for (int b : black) {
                cells_.push_back({static_cast<std::int16_t>(b), static_cast<std::int16_t>(g),
                                  static_cast<std::int16_t>(y)});
            }
        }
    }
    for (const auto* list : {&black, &gradient, &gray}) {
        if (list->size() > 1) {
            columns_ = static_cast<int>(list->size());
            break;
        }
    }
}

long long ContactSheet::width() const {
    return kMargin + static_cast<long long>(columns_) * (cellWidth_ + kMargin);
}

long long ContactSheet::height() const {
    return kMargin + static_cast<long long>(rows()) * (kCaption + cellHeight_ + kMargin);
}

int ContactSheet::cellX(int index) const {
    return kMargin + (index % columns_) * (cellWidth_ + kMargin);
}

int ContactSheet::cellY(int index) const {
    return kMargin + (index / columns_) * (kCaption + cellHeight_ + kMargin) + kCaption;
}

GreyImage ContactSheet::render(const BgrxImage& picture) const {
    GreyImage sheet(static_cast<int>(width()), static_cast<int>(height()));
    for (int y = 0; y < sheet.height(); ++y) {
        std::memset(sheet.row(y), 255, static_cast<std::size_t>(sheet.width()));
    }
    GreyImage cell(cellWidth_, cellHeight_);
    for (int i = 0; i < static_cast<int>(cells_.size()); ++i) {
        const FilterThresholds& t = cells_[i];
        ApplyBlackWhiteFilter(picture.data(), picture.stride(), picture.width(), picture.height(),
                              t, cell.data(), cell.stride());
        for (int y = 0; y < cellHeight_; ++y) {
            std::memcpy(sheet.row(cellY(i) + y) + cellX(i), cell.row(y),
                        static_cast<std::size_t>(cellWidth_));
        }
        drawText(sheet, cellX(i), cellY(i) - kCaption + 2,
                 "B " + std::to_string(t.black) + "  G " + std::to_string(t.gradient) + "  Y " +
                     std::to_string(t.gray),
                 cellX(i) + cellWidth_);
    }
    return sheet;
}
