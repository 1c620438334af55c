#pragma once

#include <QPersistentModelIndex>

class ImageList;

// Moving rows by dragging them inside the list: the dragged row and the row under the pointer
// trade places as the pointer passes, so the dragged path travels with the pointer, and with it
// the row's identity. Keeps `Dragging` and `DragRow` for the life of the list.
class RowReordering {
  public:
    // Screen rows, counted from the top of the screen: above the first the row before the target
    // is scrolled into view, below the second the row after it.
    static constexpr int kScrollUpBelow = 305;
    static constexpr int kScrollDownAbove = 364;

    explicit RowReordering(ImageList& list) : list_(list) {}

    void MouseDown() { dragging_ = true; }
    // A row was clicked: it becomes the dragged row (the selected one, whichever was clicked).
    void ItemClick();
    // The pointer is over the row at `position` (0 for none) at screen row `screenY`. Answers the
    // position of the row to scroll into view, or 0.
    int MouseMove(int position, int screenY);
    void MouseUp() { dragging_ = false; }

    bool Dragging() const { return dragging_; }
    // The dragged row's position, or 0 when there is none (never clicked, or removed).
    int DragRow() const;

  private:
    ImageList& list_;
    bool dragging_ = false;
    QPersistentModelIndex dragRow_;
};
