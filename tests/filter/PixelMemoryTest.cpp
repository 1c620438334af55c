#include "filter/PixelMemory.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

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
