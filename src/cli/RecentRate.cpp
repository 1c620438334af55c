#include "cli/RecentRate.h"

void RecentRate::add(Clock::time_point at) {
    recent_.push_back(at);
    while (recent_.size() > kMost ||
           (recent_.size() > kLeast && recent_.front() < at - Clock::duration(kWindow))) {
        since_ = recent_.front();
        recent_.pop_front();
    }
}

double RecentRate::perSecond(Clock::time_point now) const {
    if (now - start_ < kFirst) {
        return -1;
    }
    const std::chrono::duration<double> over = now - since_;
    return over.count() > 0 ? static_cast<double>(recent_.size()) / over.count() : -1;
}
