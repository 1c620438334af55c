#pragma once

#include <Qt>

// One of the application's override pointers, held for the object's life: the main window's
// hourglass while it is busy, a box's arrow while it is shown. The latest one still held shows.
// Unlike QGuiApplication's own stack, whose restore drops the latest whoever asks, they may end in
// any order: the hourglass that ends under an open box leaves the box its arrow, and the box
// that closes then leaves no hourglass behind. All the program's override pointers go through
// here. GUI thread only.
class PointerOverride {
  public:
    explicit PointerOverride(Qt::CursorShape shape);
    ~PointerOverride();
    PointerOverride(const PointerOverride&) = delete;
    PointerOverride& operator=(const PointerOverride&) = delete;

    // Whether any is held.
    static bool any();
};
