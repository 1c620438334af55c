#pragma once

#include <functional>

// The picture libraries (libheif, libjxl, LibRaw) allocate their big planes with malloc, and
// each fresh 4 KB page of them costs a fault: a third to a half of decoding a 12-megapixel
// AVIF. Where the system gives 2 MB pages on request (transparent huge pages "madvise"), glibc's
// allocator asks for them only when its tunable glibc.malloc.hugetlb is set as the program
// starts, so the program starts itself once more with it set (the same process, name,
// arguments, descriptors and environment, that tunable put before any the user gave; the
// programs it starts get the user's). Never under secure execution (capabilities, set-user-ID),
// where glibc erases the tunables, and never twice. A restart costs the
// loading of the program and its libraries over again, about 45 ms, so `worthIt` is asked last,
// only when a restart could be made, whether this run gains more. Returns when no restart is
// wanted (the tunable is set already, the system would give no such pages, or it is not worth
// it) or the restart failed, in which case the program goes on as it is. Call it first in main,
// before any thread starts.
void RestartWithLargePageMalloc(
    char** argv, const std::function<bool()>& worthIt = [] { return true; });
