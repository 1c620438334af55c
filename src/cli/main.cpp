#include "cli/CliOptions.h"
#include "cli/CliRun.h"
#include "shell/QSettingsStore.h"

#include <QCoreApplication>
#include <QThread>

#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QSettingsStore settings;  // read for the defaults, never written
    const CliParse parse =
        ParseCliOptions(app.arguments().mid(1), settings, QThread::idealThreadCount());
    if (!parse.options) {
        std::fprintf(parse.exitStatus == 0 ? stdout : stderr, "%s\n",
                     parse.message.toLocal8Bit().constData());
        return parse.exitStatus;
    }
    return RunCli(*parse.options, QCoreApplication::applicationDirPath(), stdout, stderr,
                  ::isatty(STDERR_FILENO) == 1);
}
