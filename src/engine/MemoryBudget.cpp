#include "engine/MemoryBudget.h"

#include "engine/ControlGroupMemory.h"

#include <unistd.h>

#include <algorithm>
#include <vector>

MemoryBudget::Share MemoryBudget::take(std::uint64_t bytes) {
    return take(bytes, nullptr, nullptr, false);
}

MemoryBudget::Share MemoryBudget::take(std::uint64_t bytes, std::function<void()> recall) {
    return take(bytes, &recall, nullptr, false);
}

MemoryBudget::Share MemoryBudget::lend(std::uint64_t bytes, std::function<void()> recall,
                                       const std::atomic<bool>& cancel, bool whenIdle) {
    return take(bytes, &recall, &cancel, whenIdle);
}

void MemoryBudget::wake() {
    const std::lock_guard lock(mutex_);
    changed_.notify_all();
}

void MemoryBudget::advance() {
    ++serving_;
    for (auto it = std::find(givenUp_.begin(), givenUp_.end(), serving_); it != givenUp_.end();
         it = std::find(givenUp_.begin(), givenUp_.end(), serving_)) {
        givenUp_.erase(it);
        ++serving_;
    }
}

MemoryBudget::Share MemoryBudget::take(std::uint64_t bytes, std::function<void()>* recall,
                                       const std::atomic<bool>* cancel, bool whenIdle) {
    std::unique_lock lock(mutex_);
    const auto cancelled = [&] { return cancel != nullptr && cancel->load(); };
    if (whenIdle) {
        changed_.wait(lock, [&] {
            return cancelled() || (held_ == 0 && serving_ == nextTicket_ && jobs_ == 0);
        });
        if (cancelled()) {
            return Share();
        }
    }
    const std::uint64_t ticket = nextTicket_++;
    for (;;) {
        changed_.wait(lock, [&] {
            if (cancelled()) {
                return true;
            }
            if (serving_ != ticket) {
                return false;
            }
            if (fits(held_, bytes)) {
                return true;
            }
            // First in line and held up: by shares that would be given back if asked?
            std::uint64_t recallable = 0;
            for (const Lent& l : lent_) {
                recallable += l.recalled ? 0 : l.bytes;
            }
            return recallable > 0 && fits(held_ - recallable, bytes);
        });
        if (cancelled()) {
            if (serving_ == ticket) {
                advance();
            } else {
                givenUp_.push_back(ticket);
            }
            changed_.notify_all();
            return Share();
        }
        if (fits(held_, bytes)) {
            break;
        }
        std::vector<std::function<void()>> calls;
        for (Lent& l : lent_) {
            if (!l.recalled) {
                l.recalled = true;
                calls.push_back(l.recall);
            }
        }
        lock.unlock();
        for (const auto& call : calls) {
            call();
        }
        lock.lock();
    }
    advance();
    held_ += bytes;
    mostHeld_ = std::max(mostHeld_, held_);
    Share share(*this, bytes);
    if (recall != nullptr && *recall) {
        lent_.push_back({bytes, std::move(*recall)});
        share.lent_ = &lent_.back();
    }
    changed_.notify_all();  // the next in line may fit too
    return share;
}

void MemoryBudget::jobBegins() {
    const std::lock_guard lock(mutex_);
    ++jobs_;
}

void MemoryBudget::jobsEnd(int jobs) {
    {
        const std::lock_guard lock(mutex_);
        jobs_ = std::max(0, jobs_ - jobs);
    }
    changed_.notify_all();
}

void MemoryBudget::giveBack(std::uint64_t bytes, const void* lent) {
    {
        const std::lock_guard lock(mutex_);
        held_ -= bytes;
        if (lent != nullptr) {
            lent_.remove_if([&](const Lent& l) { return &l == lent; });
        }
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
