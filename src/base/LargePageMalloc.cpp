#include "base/LargePageMalloc.h"

#include <sys/auxv.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

const std::string kTunable = "glibc.malloc.hugetlb=1";

// Set for the restarted program only: the name the process was started with, which tells it that
// it has restarted whatever glibc leaves of its tunables (it erases them all under secure
// execution), and the user's own GLIBC_TUNABLES when there were any.
constexpr const char* kRestartedAs = "TONVALER_RESTARTED_AS";
constexpr const char* kUsersTunables = "TONVALER_USERS_TUNABLES";

// "always" gives big pages to every large mapping already; "never" to none.
bool pagesOnRequest() {
    std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string line;
    return std::getline(mode, line) && line.find("[madvise]") != std::string::npos;
}

// The environment as the user gave it, for the programs this one starts.
void restoreTunables(const char* users) {
    if (users != nullptr) {
        ::setenv("GLIBC_TUNABLES", users, 1);
    } else {
        ::unsetenv("GLIBC_TUNABLES");
    }
}

// The restarted program: named as it was started (through /proc/self/exe it would be "exe", or
// its file's name where it was started through a link), the environment the user's.
void settleAfterRestart(const char* name) {
    ::prctl(PR_SET_NAME, std::string(name).substr(0, 15).c_str());
    const char* users = std::getenv(kUsersTunables);
    restoreTunables(users);
    ::unsetenv(kUsersTunables);
    ::unsetenv(kRestartedAs);
}

}  // namespace

void RestartWithLargePageMalloc(char** argv, const std::function<bool()>& worthIt) {
    const char* given = std::getenv("GLIBC_TUNABLES");
    const std::string tunables = given != nullptr ? given : "";
    if (const char* name = std::getenv(kRestartedAs)) {
        if (*name != '\0' && tunables.rfind(kTunable, 0) == 0) {
            settleAfterRestart(name);
            return;
        }
        // A mark this program did not leave (the user's, or one inherited): gone, and no
        // restart, which could not be told from the one it would start.
        ::unsetenv(kRestartedAs);
        ::unsetenv(kUsersTunables);
        return;
    }
    // A program with capabilities or set-user-ID runs with glibc's tunables erased, and
    // restarting it would change nothing.
    if (::getauxval(AT_SECURE) != 0) {
        return;
    }
    if (tunables.find("glibc.malloc.hugetlb") != std::string::npos || !pagesOnRequest() ||
        !worthIt()) {
        return;
    }
    char name[16] = {};
    if (::prctl(PR_GET_NAME, name) != 0 || ::setenv(kRestartedAs, name, 1) != 0 ||
        (given != nullptr && ::setenv(kUsersTunables, tunables.c_str(), 1) != 0)) {
        ::unsetenv(kRestartedAs);
        return;
    }
    const std::string wanted = tunables.empty() ? kTunable : kTunable + (":" + tunables);
    if (::setenv("GLIBC_TUNABLES", wanted.c_str(), 1) == 0) {
        ::execv("/proc/self/exe", argv);
    }
    // Not restarted: the environment as it was.
    restoreTunables(given != nullptr ? tunables.c_str() : nullptr);
    ::unsetenv(kUsersTunables);
    ::unsetenv(kRestartedAs);
}
