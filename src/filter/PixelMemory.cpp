#include "filter/PixelMemory.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

namespace {

constexpr std::align_val_t kAlignment{64};
// Smaller buffers are cheap to make and not worth holding on to.
constexpr std::size_t kWorthKeeping = std::size_t(1) << 20;
constexpr std::size_t kKept = 6;
// What all threads keep together, so that kept buffers stay within the engine's memory budget.
std::atomic<std::size_t> mostKept{std::size_t(256) << 20};
std::atomic<std::size_t> kept{0};

struct Block {
    std::uint8_t* data;
    std::size_t capacity;
    unsigned picture;  // the thread's picture that let it go
};

struct ThreadCache {
    std::vector<Block> blocks;
    unsigned picture = 0;
    bool keeps = false;

    // Lets go of the kept blocks that `drop` picks.
    template <typename Drop>
    void letGo(Drop drop) {
        std::erase_if(blocks, [&](const Block& b) {
            if (!drop(b)) {
                return false;
            }
            kept -= b.capacity;
            ::operator delete[](b.data, kAlignment);
            return true;
        });
    }
    ~ThreadCache() {
        letGo([](const Block&) { return true; });
    }
};

ThreadCache& cache() {
    thread_local ThreadCache threadCache;
    return threadCache;
}

}  // namespace

std::uint8_t* PixelMemory::acquire(std::size_t bytes, std::size_t& capacity) {
    if (bytes >= kWorthKeeping) {
        // The smallest kept block that fits, unless it is far larger than asked for.
        auto& blocks = cache().blocks;
        auto best = blocks.end();
        for (auto it = blocks.begin(); it != blocks.end(); ++it) {
            if (it->capacity >= bytes && it->capacity / 4 <= bytes &&
                (best == blocks.end() || it->capacity < best->capacity)) {
                best = it;
            }
        }
        if (best != blocks.end()) {
            const Block b = *best;
            blocks.erase(best);
            kept -= b.capacity;
            capacity = b.capacity;
            return b.data;
        }
    }
    capacity = std::max<std::size_t>(bytes, 1);
    return static_cast<std::uint8_t*>(::operator new[](capacity, kAlignment));
}

void PixelMemory::release(std::uint8_t* buffer, std::size_t capacity) noexcept {
    if (buffer == nullptr) {
        return;
    }
    if (capacity < kWorthKeeping || !cache().keeps || (kept += capacity) > mostKept) {
        if (capacity >= kWorthKeeping && cache().keeps) {
            kept -= capacity;
        }
        ::operator delete[](buffer, kAlignment);
        return;
    }
    auto& blocks = cache().blocks;
    try {
        blocks.push_back({buffer, capacity, cache().picture});
    } catch (...) {
        kept -= capacity;
        ::operator delete[](buffer, kAlignment);
        return;
    }
    if (blocks.size() > kKept) {
        // Let the smallest go.
        const auto smallest = std::min_element(
            blocks.begin(), blocks.end(),
            [](const Block& a, const Block& b) { return a.capacity < b.capacity; });
        kept -= smallest->capacity;
        ::operator delete[](smallest->data, kAlignment);
        blocks.erase(smallest);
    }
}

void PixelMemory::pictureEnded() noexcept {
    ThreadCache& c = cache();
    ++c.picture;
    c.letGo([&](const Block& b) { return b.picture + 1 < c.picture; });
}

void PixelMemory::letGoOfKept() noexcept {
    cache().letGo([](const Block&) { return true; });
}

void PixelMemory::setMostKept(std::size_t bytes) {
    mostKept = bytes;
}

void PixelMemory::keepOnThisThread() noexcept {
    cache().keeps = true;
}

std::size_t PixelMemory::keptNow() noexcept {
    return kept;
}
