#pragma once

#include <QThreadPool>

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

// A pool of threads whose waiting tasks start in a strict order: the highest priority first, then
// the lowest rank, then the first given. QThreadPool alone does not keep it: a task given while
// one of its threads waits idle is queued at the lowest priority, behind every task given after
// it, so that a batch's first picture could wait for fifty others. Thread-safe.
class OrderedPool {
  public:
    OrderedPool() = default;
    OrderedPool(const OrderedPool&) = delete;
    OrderedPool& operator=(const OrderedPool&) = delete;

    void setMaxThreadCount(int threads) { pool_.setMaxThreadCount(threads); }
    int maxThreadCount() const { return pool_.maxThreadCount(); }
    void setExpiryTimeout(int milliseconds) { pool_.setExpiryTimeout(milliseconds); }

    void start(std::function<void()> task, int priority, std::int64_t rank = 0);
    // Drops the tasks that have not begun, destroying them on the calling thread.
    void clear();
    // Returns once no task runs or waits.
    void waitForDone() { pool_.waitForDone(); }

  private:
    struct Waiting {
        int priority;
        std::int64_t rank;
        std::uint64_t given;
        std::function<void()> task;
    };
    // Whether `a` starts after `b` (the heap's order: its front starts next).
    static bool startsAfter(const Waiting& a, const Waiting& b);
    void runNext();

    std::mutex mutex_;
    std::vector<Waiting> waiting_;  // a heap
    std::uint64_t given_ = 0;
    QThreadPool pool_;  // last, so that its threads end before the rest goes
};
