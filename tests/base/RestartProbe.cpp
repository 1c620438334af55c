// Restarts with large pages as the programs do, then runs the command its arguments name, which
// gets this program's environment as the programs the window opens do.
#include "base/LargePageMalloc.h"

#include <unistd.h>

int main(int argc, char** argv) {
    RestartWithLargePageMalloc(argv);
    if (argc < 2) {
        return 0;
    }
    ::execvp(argv[1], argv + 1);
    return 127;
}
