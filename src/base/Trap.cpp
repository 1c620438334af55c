#include "base/Trap.h"

#include "base/ErrorReport.h"
#include "base/RuntimeError.h"

void Trap::line(int number, const std::function<void()>& step) {
    if (ended_) {
        return;
    }
    line_ = number;
    run(step);
}

void Trap::run(const std::function<void()>& step) {
    if (ended_) {
        return;
    }
    try {
        step();
    } catch (...) {
        reportCurrentFailure();
    }
}

bool Trap::test(int number, const std::function<bool()>& condition) {
    if (ended_) {
        return false;
    }
    line_ = number;
    try {
        return condition();
    } catch (...) {
        reportCurrentFailure();
        return !ended_;
    }
}

void Trap::divert(int errorNumber, std::function<void()> handler) {
    diversions_[errorNumber] = std::move(handler);
}

void Trap::reportCurrentFailure() {
    const RuntimeError error = RuntimeError::fromCurrentException();
    if (auto it = diversions_.find(error.number()); it != diversions_.end()) {
        ended_ = true;
        it->second();
        return;
    }
    if (onFailure_) {
        onFailure_(error, line_);
        return;
    }
    ShowErrorReport(*dialogs_, QString::fromStdString(error.description()), label_, line_);
}
