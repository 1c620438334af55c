#include "engine/MemoryBudget.h"

#include "engine/ControlGroupMemory.h"

#include <unistd.h>

#include <algorithm>

MemoryBudget::Share MemoryBudget::take(std::uint64_t bytes) {
    std::unique_lock lock(mutex_);
    const std::uint64_t ticket = nextTicket_++;
    changed_.wait(lock,
                  [&] { return serving_ == ticket && (held_ == 0 || held_ + bytes <= total_); });
    ++serving_;
    held_ += bytes;
    mostHeld_ = std::max(mostHeld_, held_);
    changed_.notify_all();  // the next in line may fit too
    return Share(*this, bytes);
}

void MemoryBudget::giveBack(std::uint64_t bytes) {
    {
        const std::lock_guard lock(mutex_);
        held_ -= bytes;
    }
    changed_.notify_all();
}

std::uint64_t MemoryBudget::mostHeld() const {
    const std::lock_guard lock(mutex_);
    return mostHeld_;
}

std::uint64_t MemoryBudget::defaultBytes() {
    return defaultMemory().bytes;
}

MemoryBudget::Default MemoryBudget::defaultMemory() {
    bool given = false;
    const qulonglong megabytes = qEnvironmentVariable("TONVALER_MEMORY_MB").toULongLong(&given);
    if (given && megabytes > 0) {
        return {std::uint64_t(megabytes) << 20, QStringLiteral("TONVALER_MEMORY_MB")};
    }
    const std::uint64_t machine =
        std::uint64_t(::sysconf(_SC_PHYS_PAGES)) * std::uint64_t(::sysconf(_SC_PAGE_SIZE));
    const ControlGroupMemory group = ControlGroupMemoryLimit();
    if (group.bytes > 0 && group.bytes < machine) {
        return {group.bytes / 2, QStringLiteral("half the limit in ") + group.file};
    }
    return {machine / 2, QStringLiteral("half the machine's memory")};
}
