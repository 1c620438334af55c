#pragma once

#include "filter/BlackWhiteFilter.h"

#include <vector>

// One picture rendered with many thresholds, side by side: a grid of cells, each the filter's
// own result of the whole picture at 100 % (nothing scaled), under a caption with its three values
// ("B 40  G 180  Y 50"), on white. The first listed value with more than one choice runs along the
// rows; the others go down, in turn.
class ContactSheet {
  public:
    // Every combination of the values, black changing fastest, then gradient, then gray.
    ContactSheet(int cellWidth, int cellHeight, const std::vector<int>& black,
                 const std::vector<int>& gradient, const std::vector<int>& gray);

    const std::vector<FilterThresholds>& cells() const { return cells_; }
    int columns() const { return columns_; }
    int rows() const { return static_cast<int>(cells_.size()) / columns_; }
    // The sheet's size in pixels; long long so that a sheet too big to make can be refused.
    long long width() const;
    long long height() const;
    // The top-left pixel of cell `index`'s picture.
    int cellX(int index) const;
    int cellY(int index) const;

    // The sheet for `picture`, which has the cells' size.
    GreyImage render(const BgrxImage& picture) const;

    static constexpr int kMargin = 8;    // pixels around and between the cells
    static constexpr int kCaption = 22;  // pixels of caption above each cell

  private:
    int cellWidth_, cellHeight_;
    std::vector<FilterThresholds> cells_;
    int columns_ = 1;
};
