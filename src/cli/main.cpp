#include "base/LargePageMalloc.h"
#include "base/PathBytes.h"
#include "base/QSettingsStore.h"
#include "cli/CliOptions.h"
#include "cli/CliRun.h"
#include "cli/LargePagesWanted.h"

#include <QCoreApplication>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

int main(int argc, char** argv) {
    // A standard stream closed by the caller (`>&- 2>&-`) would be the next file opened, a report
    // or a picture, and the run's messages would go into it. Held by /dev/null the wrong way
    // round, its use still fails, as it would closed.
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);  // the lowest free: fd
        }
    }
    // From argv itself: a path that is not UTF-8 keeps its bytes (QCoreApplication's copy does
    // not).
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.append(PathText(argv[i]));
    }
    RestartWithLargePageMalloc(argv, [&] { return LargePagesWanted(arguments); });
    QCoreApplication app(argc, argv);
    QSettingsStore settings;  // read for the defaults, never written
    const CliParse parse = ParseCliOptions(arguments, settings, QThread::idealThreadCount());
    if (!parse.options) {
        std::FILE* to = parse.exitStatus == 0 ? stdout : stderr;
        std::fprintf(to, "%s\n", parse.message.toLocal8Bit().constData());
        // --help or --version that did not reach its reader is a failure too.
        return std::fflush(to) != 0 || std::ferror(to) ? std::max(parse.exitStatus, 1)
                                                       : parse.exitStatus;
    }
    // A dumb terminal (an editor's shell) shows the line's escape codes as they are: it gets the
    // progress as a log does.
    const bool terminal =
        ::isatty(STDERR_FILENO) == 1 && qEnvironmentVariable("TERM") != QLatin1String("dumb");
    return RunCli(*parse.options, QCoreApplication::applicationDirPath(), stdout, stderr, terminal);
}
