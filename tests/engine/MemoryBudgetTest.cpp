#include "engine/ControlGroupMemory.h"
#include "engine/MemoryBudget.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

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

// The least limit of the groups this process is in and of those above them, in either version
// of control groups, read from a file system laid out as the system's.
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
