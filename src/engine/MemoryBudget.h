#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <vector>

// The memory that the jobs running at once may take between them, in bytes. A job takes its
// expected share before it decodes and gives it back when it ends; while the budget is spent,
// it waits, in the order the jobs asked. A job bigger than the whole budget runs alone: it waits
// until no other job holds a share, and the others wait until it ends. Thread-safe.
class MemoryBudget {
  public:
    explicit MemoryBudget(std::uint64_t bytes) : total_(bytes > 0 ? bytes : 1) {}

    // A share held; given back when it goes out of scope.
    class Share {
      public:
        Share() = default;
        Share(MemoryBudget& budget, std::uint64_t bytes) : budget_(&budget), bytes_(bytes) {}
        Share(Share&& other) noexcept
            : budget_(other.budget_), bytes_(other.bytes_), lent_(other.lent_) {
            other.budget_ = nullptr;
        }
        Share(const Share&) = delete;
        Share& operator=(const Share&) = delete;
        Share& operator=(Share&&) = delete;
        ~Share() {
            if (budget_) {
                budget_->giveBack(bytes_, lent_);
            }
        }
        // False for a share that was never taken (a wait given up).
        bool held() const { return budget_ != nullptr; }

      private:
        friend class MemoryBudget;
        MemoryBudget* budget_ = nullptr;
        std::uint64_t bytes_ = 0;
        const void* lent_ = nullptr;  // the recall's entry, for a share that can be recalled
    };

    // Waits until `bytes` may be taken, and takes them.
    Share take(std::uint64_t bytes);
    // The same for a holder that can give its share back when asked (the preview, beside a
    // batch): when the one first in line cannot start for want of what such shares hold,
    // `recall` is called (once, on the waiting thread, no lock held) and the holder gives its
    // share back soon. `recall` must not take from this budget. The wait is given up, with a
    // share not held, once `cancel` is set and wake() called. With `whenIdle` it does not even
    // get in line until the budget rests: no share held, no one waiting, and no job begun and
    // not ended (jobBegins), for a holder that was just recalled, so that it does not come back
    // in the gap between a batch's pictures only to be recalled by the next.
    Share lend(std::uint64_t bytes, std::function<void()> recall, const std::atomic<bool>& cancel,
               bool whenIdle = false);
    Share take(std::uint64_t bytes, std::function<void()> recall);
    // Wakes the waits, to look at their `cancel`.
    void wake();
    // A job that will take a share begins, or ends (with `jobs` ending at once, for those
    // dropped before they began): while any has begun and not ended, the budget does not rest.
    void jobBegins();
    void jobsEnd(int jobs = 1);

    std::uint64_t total() const { return total_; }
    // The most that was held at once so far.
    std::uint64_t mostHeld() const;

    // Half the memory this process may use (the machine's, or the least limit of its control
    // groups when lower: ControlGroupMemoryLimit), unless TONVALER_MEMORY_MB says how many
    // megabytes.
    static std::uint64_t defaultBytes();
    // The same, and where it came from ("half the limit in /sys/fs/cgroup/...").
    struct Default {
        std::uint64_t bytes;
        QString from;
    };
    static Default defaultMemory();

  private:
    struct Lent {
        std::uint64_t bytes;
        std::function<void()> recall;
        bool recalled = false;
    };
    Share take(std::uint64_t bytes, std::function<void()>* recall, const std::atomic<bool>* cancel,
               bool whenIdle);
    void advance();  // serves the next ticket not given up
    void giveBack(std::uint64_t bytes, const void* lent);
    bool fits(std::uint64_t held, std::uint64_t bytes) const {
        return held == 0 || held + bytes <= total_;
    }

    const std::uint64_t total_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t held_ = 0;
    int jobs_ = 0;  // begun and not ended
    std::uint64_t mostHeld_ = 0;
    std::uint64_t nextTicket_ = 0;
    std::uint64_t serving_ = 0;
    std::list<Lent> lent_;
    std::vector<std::uint64_t> givenUp_;  // tickets whose wait was given up
};
