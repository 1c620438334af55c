#include "window/PointerOverride.h"

#include <QCursor>
#include <QGuiApplication>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// Those held, oldest first. Qt's stack holds one entry, the latest's, while any is held.
std::vector<std::pair<const PointerOverride*, Qt::CursorShape>>& held() {
    static std::vector<std::pair<const PointerOverride*, Qt::CursorShape>> entries;
    return entries;
}

}  // namespace

PointerOverride::PointerOverride(Qt::CursorShape shape) {
    auto& entries = held();
    if (entries.empty()) {
        QGuiApplication::setOverrideCursor(shape);
    } else {
        QGuiApplication::changeOverrideCursor(shape);
    }
    entries.emplace_back(this, shape);
}

PointerOverride::~PointerOverride() {
    auto& entries = held();
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [this](const auto& entry) { return entry.first == this; }),
                  entries.end());
    if (entries.empty()) {
        QGuiApplication::restoreOverrideCursor();
    } else {
        QGuiApplication::changeOverrideCursor(entries.back().second);
    }
}

bool PointerOverride::any() {
    return !held().empty();
}
