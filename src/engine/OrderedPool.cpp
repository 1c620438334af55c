#include "engine/OrderedPool.h"

#include <algorithm>
#include <tuple>
#include <utility>

bool OrderedPool::startsAfter(const Waiting& a, const Waiting& b) {
    return std::tie(b.priority, a.rank, a.given) > std::tie(a.priority, b.rank, b.given);
}

void OrderedPool::start(std::function<void()> task, int priority, std::int64_t rank) {
    {
        std::lock_guard lock(mutex_);
        waiting_.push_back({priority, rank, given_++, std::move(task)});
        std::push_heap(waiting_.begin(), waiting_.end(), startsAfter);
    }
    // Each task handed to the pool runs whichever waits first when a thread takes it.
    pool_.start([this] { runNext(); });
}

void OrderedPool::runNext() {
    std::function<void()> task;
    {
        std::lock_guard lock(mutex_);
        if (waiting_.empty()) {
            return;  // cleared
        }
        std::pop_heap(waiting_.begin(), waiting_.end(), startsAfter);
        task = std::move(waiting_.back().task);
        waiting_.pop_back();
    }
    task();
}

void OrderedPool::clear() {
    pool_.clear();
    std::vector<Waiting> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(waiting_);
    }
}
