#include "base/WindowPointer.h"

void WindowPointer::setMode(PointerMode mode) {
    if (mode == mode_) {
        return;
    }
    mode_ = mode;
    emit modeChanged(mode);
}
