#include "support/RunTool.h"

#include <QFile>
#include <QTemporaryDir>

#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <cerrno>

#include <vector>

extern char** environ;

ArgumentVector::ArgumentVector(const QString& program, const QStringList& arguments) {
    words_.push_back(QFile::encodeName(program));
    for (const QString& a : arguments) {
        words_.push_back(QFile::encodeName(a));
    }
    for (QByteArray& w : words_) {
        pointers_.push_back(w.data());
    }
    pointers_.push_back(nullptr);
}

ToolRun RunTool(const QString& program, const QStringList& arguments) {
    ToolRun run;
    QTemporaryDir dir;  // the outputs go to files: no pipe to fill while the test waits
    const QByteArray outPath = QFile::encodeName(dir.filePath("out"));
    const QByteArray errPath = QFile::encodeName(dir.filePath("err"));
    ArgumentVector argv(program, arguments);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, outPath.constData(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&files, 2, errPath.constData(), O_WRONLY | O_CREAT, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv.get()[0], &files, nullptr, argv.get(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) {
        return run;
    }
    int status = 0;
    pid_t waited = -1;
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (waited != pid) {  // its end is unknown: not a success
        run.started = true;
        run.exitCode = -1;
        return run;
    }
    // A program that is not there is reported by the child as exit code 127.
    run.started = !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    for (auto [path, into] : {std::pair{&outPath, &run.out}, std::pair{&errPath, &run.err}}) {
        QFile file(QFile::decodeName(*path));
        if (file.open(QIODevice::ReadOnly)) {
            *into = file.readAll();
        }
    }
    return run;
}
