#include "filter/PixelMemory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <sys/mman.h>

namespace {

// Whether the mapping that holds `p` was asked to be backed by 2 MB pages ("hg" among its flags
// in /proc/self/smaps).
bool askedForLargePages(const void* p) {
    std::ifstream smaps("/proc/self/smaps");
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        std::uintptr_t from = 0, to = 0;
        char dash = 0;
        std::istringstream range(line);
        if (range >> std::hex >> from >> dash >> to && dash == '-' && line.find(':') > 8) {
            inside = from <= at && at < to;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line.find(" hg") != std::string::npos;
        }
    }
    return false;
}

// Whether a mapping asked for 2 MB pages shows it (not where the kernel has no such pages, nor
// under an emulator that takes the request as a hint and drops it).
bool systemMarksLargePages() {
    constexpr std::size_t size = std::size_t(4) << 20;
    void* probe = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    const bool marks = probe != MAP_FAILED && ::madvise(probe, size, MADV_HUGEPAGE) == 0 &&
                       askedForLargePages(probe);
    if (probe != MAP_FAILED) {
        ::munmap(probe, size);
    }
    return marks;
}

// A block let go is kept only by a thread that keeps (a worker), and only until it ends; one let
// go on another thread (made on a worker's or a preview's thread, freed on the window's) goes
// back at once, whatever thread made it.
TEST(PixelMemory, OnlyAKeepingThreadKeepsAndOnlyWhileItLives) {
    constexpr std::size_t bytes = std::size_t(8) << 20;
    const std::size_t before = PixelMemory::keptNow();
    const struct {
        bool makerKeeps, freerKeeps;
        std::size_t keptWhileFreerLives;
    } cases[] = {{false, false, 0}, {true, false, 0}, {false, true, bytes}, {true, true, bytes}};
    for (const auto& c : cases) {
        std::uint8_t* block = nullptr;
        std::size_t capacity = 0;
        std::thread([&] {
            if (c.makerKeeps) {
                PixelMemory::keepOnThisThread();
            }
            block = PixelMemory::acquire(bytes, capacity);
        }).join();
        // 2 MB pages for a block a worker will use again; a thread that lets go at once would
        // wait for fresh ones to be made at every picture.
        EXPECT_EQ(askedForLargePages(block), c.makerKeeps && systemMarksLargePages())
            << c.makerKeeps;
        std::size_t kept = 0;
        std::thread([&] {
            if (c.freerKeeps) {
                PixelMemory::keepOnThisThread();
            }
            PixelMemory::release(block, capacity);
            kept = PixelMemory::keptNow() - before;
        }).join();
        EXPECT_EQ(kept, c.keptWhileFreerLives) << c.makerKeeps << c.freerKeeps;
        EXPECT_EQ(PixelMemory::keptNow(), before) << c.makerKeeps << c.freerKeeps;
    }
}

}  // namespace
