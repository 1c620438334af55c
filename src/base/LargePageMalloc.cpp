#include "base/LargePageMalloc.h"

#include <sys/prctl.h>
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

// A program started through /proc/self/exe is named "exe" in ps, top and killall: it takes back
// the name of the file it runs.
void keepOwnName() {
    char name[16] = {};
    if (::prctl(PR_GET_NAME, name) != 0 || std::string(name) != "exe") {
        return;
    }
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return;
    }
    const std::string file(path, static_cast<std::size_t>(length));
    ::prctl(PR_SET_NAME, file.substr(file.rfind('/') + 1).substr(0, 15).c_str());
}

}  // namespace

void RestartWithLargePageMalloc(char** argv, const std::function<bool()>& worthIt) {
    keepOwnName();
    const char* given = std::getenv("GLIBC_TUNABLES");
    const std::string tunables = given != nullptr ? given : "";
    if (tunables.find("glibc.malloc.hugetlb") != std::string::npos || !pagesOnRequest() ||
        !worthIt()) {
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
