#include "base/PathBytes.h"
#include "base/QSettingsStore.h"
#include "cli/CliOptions.h"
#include "cli/CliRun.h"

#include <QCoreApplication>
#include <QThread>

#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QSettingsStore settings;  // read for the defaults, never written
    // From argv itself: a path that is not UTF-8 keeps its bytes (QCoreApplication's copy does
    // not).
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.append(PathText(argv[i]));
    }
    const CliParse parse = ParseCliOptions(arguments, settings, QThread::idealThreadCount());
    if (!parse.options) {
        std::fprintf(parse.exitStatus == 0 ? stdout : stderr, "%s\n",
                     parse.message.toLocal8Bit().constData());
        return parse.exitStatus;
    }
    return RunCli(*parse.options, QCoreApplication::applicationDirPath(), stdout, stderr,
                  ::isatty(STDERR_FILENO) == 1);
}
