#include "engine/FreedMemory.h"

#include <malloc.h>

#include <mutex>

void KeepFreedMemory() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Blocks up to 32 MB (malloc's highest threshold) come from the heap, not from fresh
        // mappings; the heap's free top is not trimmed; and one arena serves every thread, since a
        // thread's own arena is unmapped piece by piece as it empties. A few allocations a picture
        // take its lock, so sharing it costs nothing measurable.
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_ARENA_MAX, 1);
    });
}

void ReturnFreedMemory() {
    malloc_trim(0);
}
