#pragma once

#include "imagelist/ImageList.h"

#include <unordered_set>
#include <vector>

// The rows a batch has still to take, by identity, in the list's order as it stands: a row
// dragged anywhere keeps its one turn, a row taken is not taken again, and rows added after the
// start are not the batch's. The batch's passes take them one at a time, in order.
//
// Holds a reference to the list, which must outlive it. Window thread only, as the list.
class PendingRows {
  public:
    explicit PendingRows(const ImageList& list) : list_(list) {}

    // Every row in the list now is pending; no pass has taken one.
    void start();
    // The position of the row that pass `pass` (counted from 0 at the start) will take if the
    // list stays as it is, or 0 when too few rows are left; for passes not yet taken.
    int positionFor(int pass);
    // The next pass takes its row: its position now, or 0 when none is left.
    int take();
    int taken() const { return taken_; }

  private:
    void arrange();

    const ImageList& list_;
    std::unordered_set<ImageList::RowId> pending_;
    // The pending rows' positions in list order from `front_` on, as of `arrangement_`.
    std::vector<int> order_;
    std::size_t front_ = 0;
    quint64 arrangement_ = 0;
    bool arranged_ = false;
    int taken_ = 0;
};
