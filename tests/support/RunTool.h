#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// Another program run to its end, for tests that make or read files with the formats' own tools.
// Started with posix_spawn, not QProcess: under qemu-user (the arm64 tests) Qt's way of starting
// a process, a clone that also asks for a pidfd, is refused.
struct ToolRun {
    bool started = false;  // found and run
    int exitCode = -1;     // -1 unless it exited by itself
    QByteArray out;        // its standard output
    QByteArray err;        // its standard error
    bool succeeded() const { return started && exitCode == 0; }
};

// `program` is looked up in PATH.
ToolRun RunTool(const QString& program, const QStringList& arguments);

// `program` and its arguments as execv and posix_spawn take them, owned by this object.
class ArgumentVector {
  public:
    ArgumentVector(const QString& program, const QStringList& arguments);
    char** get() { return pointers_.data(); }

  private:
    std::vector<QByteArray> words_;
    std::vector<char*> pointers_;
};
