#include "filter/PixelMemory.h"

#include <sys/mman.h>

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
std::atomic<std::size_t> freshTotal{0};

// Big blocks are mapped on their own, on 2 MB boundaries, and on a keeping thread the system is
// asked to back them with 2 MB pages: each fresh 4 KB page costs a fault, and on a virtual
// machine the faults of a decoded 15-megapixel picture (59 MB) took 260-290 ms against 15-27 ms
// in 2 MB pages. But when the system has no free 2 MB page at hand it makes them first, and a
// preview's picture then took 560-740 ms to decode against 180-320 ms in 4 KB pages: a thread
// that keeps its blocks pays that once, a thread that does not (the window's, a preview's)
// would pay it for every picture.
constexpr std::size_t kHugeFrom = std::size_t(4) << 20;
constexpr std::size_t kHugePage = std::size_t(2) << 20;

std::size_t mappedSize(std::size_t capacity) {
    return (capacity + kHugePage - 1) / kHugePage * kHugePage;
}

std::uint8_t* fresh(std::size_t capacity, bool keeps) {
    freshTotal += capacity;
    if (capacity < kHugeFrom) {
        return static_cast<std::uint8_t*>(::operator new[](capacity, kAlignment));
    }
    const std::size_t size = mappedSize(capacity);
    void* mapped = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        throw std::bad_alloc();
    }
    auto* start = static_cast<std::uint8_t*>(mapped);
    auto* aligned = reinterpret_cast<std::uint8_t*>(
        (reinterpret_cast<std::uintptr_t>(start) + kHugePage - 1) / kHugePage * kHugePage);
    if (aligned > start) {
        ::munmap(start, static_cast<std::size_t>(aligned - start));
    }
    ::munmap(aligned + size, static_cast<std::size_t>(start + kHugePage - aligned));
#ifdef MADV_HUGEPAGE
    if (keeps) {
        ::madvise(aligned, size, MADV_HUGEPAGE);  // a hint: without it, 4 KB pages as before
    }
#endif
    return aligned;
}

void freeBlock(std::uint8_t* data, std::size_t capacity) noexcept {
    if (capacity < kHugeFrom) {
        ::operator delete[](data, kAlignment);
    } else {
        ::munmap(data, mappedSize(capacity));
    }
}

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
            freeBlock(b.data, b.capacity);
            return true;
        });
    }
    ~ThreadCache() {
        letGo([](const Block&) { return true; });
    }
};

ThreadCache& cache() {
    // Initial-exec, as a module's copy needs it to be (engine/formats/LibraryMessages.cpp).
    __attribute__((tls_model("initial-exec"))) thread_local ThreadCache threadCache;
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
    return fresh(capacity, cache().keeps);
}

void PixelMemory::release(std::uint8_t* buffer, std::size_t capacity) noexcept {
    if (buffer == nullptr) {
        return;
    }
    if (capacity < kWorthKeeping || !cache().keeps || (kept += capacity) > mostKept) {
        if (capacity >= kWorthKeeping && cache().keeps) {
            kept -= capacity;
        }
        freeBlock(buffer, capacity);
        return;
    }
    auto& blocks = cache().blocks;
    try {
        blocks.push_back({buffer, capacity, cache().picture});
    } catch (...) {
        kept -= capacity;
        freeBlock(buffer, capacity);
        return;
    }
    if (blocks.size() > kKept) {
        // Let the smallest go.
        const auto smallest = std::min_element(
            blocks.begin(), blocks.end(),
            [](const Block& a, const Block& b) { return a.capacity < b.capacity; });
        kept -= smallest->capacity;
        freeBlock(smallest->data, smallest->capacity);
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

std::size_t PixelMemory::freshBytes() noexcept {
    return freshTotal;
}
