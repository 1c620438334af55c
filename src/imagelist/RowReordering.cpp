#include "imagelist/RowReordering.h"

#include "imagelist/ImageList.h"

void RowReordering::ItemClick() {
    const int selected = list_.SelectedPosition();
    dragRow_ =
        selected > 0 ? QPersistentModelIndex(list_.index(selected - 1)) : QPersistentModelIndex();
}

int RowReordering::DragRow() const {
    return dragRow_.isValid() ? dragRow_.row() + 1 : 0;
}

int RowReordering::MouseMove(int position, int screenY) {
    if (!dragging_) {
        return 0;
    }
    const int from = DragRow();
    if (position < 1 || from < 1) {
        return 0;
    }
    const QString dragged = list_.RowText(from);
    const QString under = list_.RowText(position);
    if (dragged == under) {
        return 0;  // twins: nothing to trade
    }
    list_.SwapRows(from, position);
    list_.SelectRow(position);
    dragRow_ = QPersistentModelIndex(list_.index(position - 1));
    if (screenY < kScrollUpBelow && position > 1) {
        return position - 1;
    }
    if (screenY > kScrollDownAbove && position + 1 <= list_.RowCount()) {
        return position + 1;
    }
    return 0;
}
