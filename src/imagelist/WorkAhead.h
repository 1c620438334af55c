#pragma once

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Work on items 0 .. count - 1 done ahead on threads of its own, one a core, and taken by the
// owner in order: listing folders mostly waits on the system, and meanwhile the owner's thread
// uses what is ready. A failure of an item's work is handed over with it. Destroying the object
// stops the threads after their current item and waits for them.
template <typename Result>
class WorkAhead {
  public:
    using Work = std::function<Result(qsizetype)>;

    WorkAhead(qsizetype count, Work work)
        : results_(static_cast<std::size_t>(count)), work_(std::move(work)) {
        const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
        for (unsigned t = 0; t < threads && t < results_.size(); ++t) {
            threads_.emplace_back([this] { run(); });
        }
    }
    ~WorkAhead() {
        cancelled_ = true;
        for (std::thread& t : threads_) {
            t.join();
        }
    }
    WorkAhead(const WorkAhead&) = delete;
    WorkAhead& operator=(const WorkAhead&) = delete;

    // Item `index`'s result, waiting for it if need be; raises its work's failure. Each item is
    // taken at most once.
    Result take(qsizetype index) {
        Slot& slot = results_[static_cast<std::size_t>(index)];
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return slot.done; });
        if (slot.failure) {
            std::rethrow_exception(slot.failure);
        }
        return std::move(slot.result);
    }

  private:
    struct Slot {
        Result result{};
        std::exception_ptr failure;
        bool done = false;
    };

    void run() {
        for (std::size_t i = next_++; i < results_.size() && !cancelled_; i = next_++) {
            Result result{};
            std::exception_ptr failure;
            try {
                result = work_(static_cast<qsizetype>(i));
            } catch (...) {
                failure = std::current_exception();
            }
            std::lock_guard lock(mutex_);
            results_[i].result = std::move(result);
            results_[i].failure = failure;
            results_[i].done = true;
            ready_.notify_all();
        }
    }

    std::vector<Slot> results_;
    Work work_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<std::thread> threads_;
};
