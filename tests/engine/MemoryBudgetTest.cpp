#include "engine/MemoryBudget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

TEST(MemoryBudget, JobsTogetherStayWithinItAndABiggerOneRunsAlone) {
    MemoryBudget budget(100);
    const std::uint64_t sizes[] = {60, 30, 150, 40, 60, 10, 100, 20, 90, 250, 5, 5};
    std::atomic<std::uint64_t> held{0};
    std::atomic<int> running{0};
    std::atomic<int> overruns{0};
    std::vector<std::thread> jobs;
    for (const std::uint64_t size : sizes) {
        jobs.emplace_back([&, size] {
            const MemoryBudget::Share share = budget.take(size);
            const int together = ++running;
            if ((held += size) > 100 && together > 1) {
                ++overruns;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            held -= size;
            --running;
        });
    }
    for (std::thread& job : jobs) {
        job.join();
    }
    EXPECT_EQ(overruns, 0);
    EXPECT_EQ(budget.mostHeld(), 250u);  // the biggest, alone
}
