#include "base/LargePageMalloc.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

const std::string kTunable = "glibc.malloc.hugetlb=1";

// "always" gives big pages to every large mapping already; "never" to none.
bool pagesOnRequest() {
    std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string line;
    return std::getline(mode, line) && line.find("[madvise]") != std::string::npos;
}

}  // namespace

void RestartWithLargePageMalloc(char** argv) {
    const char* given = std::getenv("GLIBC_TUNABLES");
    const std::string tunables = given != nullptr ? given : "";
    if (tunables.find("glibc.malloc.hugetlb") != std::string::npos || !pagesOnRequest()) {
        return;
    }
    // First: glibc leaves only the first tunable it reads in the environment it shows, and that
    // one tells the restarted program that it has restarted.
    const std::string wanted = tunables.empty() ? kTunable : kTunable + (":" + tunables);
    if (::setenv("GLIBC_TUNABLES", wanted.c_str(), 1) != 0) {
        return;
    }
    ::execv("/proc/self/exe", argv);
    // Not restarted: the environment as it was, for whatever this process starts.
    if (given != nullptr) {
        ::setenv("GLIBC_TUNABLES", tunables.c_str(), 1);
    } else {
        ::unsetenv("GLIBC_TUNABLES");
    }
}
