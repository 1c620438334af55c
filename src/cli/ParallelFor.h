#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

// Calls `each(i)` for every i below `count`, on as many threads as the processor has: for the
// plan's questions to the file system (one a file, each a wait on the kernel), which on a long
// list would keep every core but one idle before the first picture. `each` must not throw, and
// may be called in any order.
template <typename Each>
void ParallelFor(std::size_t count, const Each& each) {
    constexpr std::size_t kChunk = 64;  // indices a thread takes at a time
    const std::size_t threads =
        std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), count / kChunk);
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t first = next.fetch_add(kChunk); first < count;
             first = next.fetch_add(kChunk)) {
            for (std::size_t i = first; i < std::min(count, first + kChunk); ++i) {
                each(i);
            }
        }
    };
    std::vector<std::jthread> helpers;
    try {
        for (std::size_t t = 1; t < threads; ++t) {
            helpers.emplace_back(work);
        }
    } catch (const std::system_error&) {
        // No more threads to be had (a container's limit, say): those started and this one share
        // the rest.
    }
    work();
}
