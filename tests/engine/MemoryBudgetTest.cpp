#include "engine/ControlGroupMemory.h"
#include "engine/MemoryBudget.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
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

// The least limit of the groups this process is in and of those above them, in either version
// of control groups, read from a file system laid out as the system's.
// A share that can be recalled is asked back only when the one first in line cannot start
// without it, and that one starts once it is given back; one that fits never asks.
TEST(MemoryBudget, ALentShareIsRecalledOnlyWhenTheFirstInLineNeedsIt) {
    const struct {
        std::uint64_t lent, held, wanted;
        bool recalled;
    } cases[] = {
        {80, 0, 10, false},  {80, 0, 50, true}, {30, 40, 50, true},
        {30, 60, 50, false},  // the other holder, not the lent share, is in the way
        {10, 0, 150, true},   // bigger than the whole: runs alone
    };
    for (const auto& c : cases) {
        MemoryBudget budget(100);
        std::optional<MemoryBudget::Share> other;
        if (c.held > 0) {
            other.emplace(budget.take(c.held));
        }
        std::atomic<bool> recalled{false};
        std::optional<MemoryBudget::Share> lent;
        lent.emplace(budget.take(c.lent, [&] { recalled = true; }));
        std::atomic<bool> started{false};
        std::thread job([&] {
            const MemoryBudget::Share share = budget.take(c.wanted);
            started = true;
        });
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        while (!started && !recalled && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!c.recalled && !started) {
            other.reset();  // the job waits for the other holder, as it should
        }
        if (recalled) {
            lent.reset();  // the holder gives it back
        }
        job.join();
        EXPECT_EQ(recalled, c.recalled) << c.lent << " lent, " << c.wanted << " wanted";
        EXPECT_TRUE(started);
    }
}

// A lender's wait is given up when it is cancelled, and those in line behind it go on; one that
// waits for rest does not get in line before the budget is idle.
TEST(MemoryBudget, ALendersWaitCanBeGivenUpAndCanWaitForRest) {
    for (const bool whenIdle : {false, true}) {
        MemoryBudget budget(100);
        std::optional<MemoryBudget::Share> batch;
        batch.emplace(budget.take(90));
        std::atomic<bool> cancel{false};
        std::atomic<int> state{0};  // 1: the lender has given up
        std::thread lender([&] {
            const MemoryBudget::Share share = budget.lend(
                50, [] {}, cancel, whenIdle);
            state = share.held() ? 2 : 1;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::atomic<bool> small{false};
        std::thread behind([&] {
            const MemoryBudget::Share share = budget.take(5);  // fits beside the 90
            small = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // Waiting for rest, the lender is not in line: the small one went ahead.
        EXPECT_EQ(small.load(), whenIdle);
        cancel = true;
        budget.wake();
        lender.join();
        behind.join();
        EXPECT_EQ(state.load(), 1);
        EXPECT_TRUE(small);
        batch.reset();
        const MemoryBudget::Share after = budget.take(100);  // the line moves on
    }
}

TEST(ControlGroupMemory, TheLeastLimitOnTheWayUpIsFound) {
    const struct {
        const char* groups;  // /proc/self/cgroup
        std::vector<std::pair<const char*, const char*>> files;
        std::uint64_t bytes;
        const char* file;
    } cases[] = {
        {"0::/a/b\n",
         {{"/sys/fs/cgroup/a/b/memory.max", "1000000\n"}},
         1000000,
         "/sys/fs/cgroup/a/b/memory.max"},
        {"0::/a/b\n",
         {{"/sys/fs/cgroup/a/b/memory.max", "max\n"}, {"/sys/fs/cgroup/a/memory.max", "500000"}},
         500000,
         "/sys/fs/cgroup/a/memory.max"},
        {"0::/\n",
         {{"/sys/fs/cgroup/memory.max", "700000\n"}},
         700000,
         "/sys/fs/cgroup/memory.max"},
        {"0::/a\n", {{"/sys/fs/cgroup/a/memory.max", "max\n"}}, 0, ""},
        {"9:pids:/\n4:memory:/api/x\n0::/\n",
         {{"/sys/fs/cgroup/memory/api/x/memory.limit_in_bytes", "2000000\n"},
          {"/sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n"}},
         2000000,
         "/sys/fs/cgroup/memory/api/x/memory.limit_in_bytes"},
        {"4:memory:/api/x\n",
         {{"/sys/fs/cgroup/memory/api/x/memory.limit_in_bytes", "9223372036854771712\n"}},
         0,
         ""},
        {"5:cpu,memory:/\n0::/u\n",
         {{"/sys/fs/cgroup/unified/u/memory.max", "3000000\n"},
          {"/sys/fs/cgroup/memory/memory.limit_in_bytes", "4000000\n"}},
         3000000,
         "/sys/fs/cgroup/unified/u/memory.max"},
        {nullptr, {{"/sys/fs/cgroup/memory.max", "700000\n"}}, 0, ""},
    };
    for (const auto& c : cases) {
        QTemporaryDir root;
        const auto write = [&](const QString& path, const QByteArray& text) {
            QDir().mkpath(QFileInfo(root.path() + path).path());
            QFile f(root.path() + path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(text);
        };
        if (c.groups) {
            write("/proc/self/cgroup", c.groups);
        }
        for (const auto& [path, text] : c.files) {
            write(path, text);
        }
        const ControlGroupMemory found = ControlGroupMemoryLimit(root.path());
        EXPECT_EQ(found.bytes, c.bytes) << (c.groups ? c.groups : "no groups");
        EXPECT_EQ(found.file.toStdString(), c.file) << (c.groups ? c.groups : "no groups");
    }
}
