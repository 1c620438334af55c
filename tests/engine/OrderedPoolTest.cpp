#include "engine/OrderedPool.h"

#include <condition_variable>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Given {
    int priority;
    int rank;
};

// The order the tasks start in on one worker, given while it is held, so that all wait together.
std::vector<int> startOrder(const std::vector<Given>& tasks) {
    OrderedPool pool;
    pool.setMaxThreadCount(1);
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    std::vector<int> started;
    pool.start(
        [&] {
            std::unique_lock lock(mutex);
            opened.wait(lock, [&] { return open; });
        },
        1000);
    for (std::size_t k = 0; k < tasks.size(); ++k) {
        pool.start(
            [&, k] {
                std::lock_guard lock(mutex);
                started.push_back(int(k));
            },
            tasks[k].priority, tasks[k].rank);
    }
    {
        std::lock_guard lock(mutex);
        open = true;
    }
    opened.notify_all();
    pool.waitForDone();
    return started;
}

}  // namespace

// Waiting tasks start by priority, then rank, then as given.
TEST(OrderedPool, WaitingTasksStartByPriorityThenRankThenAsGiven) {
    EXPECT_EQ(startOrder({{1, 0}, {3, 9}, {2, 0}, {3, 1}}), (std::vector<int>{3, 1, 2, 0}));
    EXPECT_EQ(startOrder({{2, 7}, {2, 3}, {2, 5}, {2, 3}}), (std::vector<int>{1, 3, 2, 0}));
}
