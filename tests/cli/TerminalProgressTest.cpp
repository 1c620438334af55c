// The real command line on a pseudo-terminal: its progress line as a person sees it.
#include "support/RunTool.h"
#include "support/TestPictures.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include <gtest/gtest.h>

namespace {

const QString kCliProgram = QStringLiteral(TONVALER_CLI);

// All that `arguments` writes on a terminal of `columns` columns, until it ends; `term`, when
// given, is the terminal's TERM.
QByteArray onTerminal(const QStringList& arguments, int columns, const char* term = nullptr) {
    ArgumentVector argv(kCliProgram, arguments);
    struct winsize size {};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(columns);
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (pid == 0) {
        if (term != nullptr) {
            ::setenv("TERM", term, 1);
        }
        ::execv(argv.get()[0], argv.get());
        ::_exit(127);
    }
    QByteArray written;
    char buffer[4096];
    ssize_t n = 0;
    // Once the program has ended, reading its terminal fails with EIO.
    while ((n = ::read(terminal, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        written.append(buffer, n > 0 ? n : 0);
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return written;
}

struct Screen {
    QStringList lines;  // what stays on the screen
    QStringList drawn;  // each state of a line that ended in an erase to its end: the progress
};

// `written` as a terminal shows it: a carriage return goes to the line's start, ESC [ K erases
// from there to its end.
Screen shown(const QByteArray& written) {
    Screen screen;
    QString line;
    int at = 0;
    for (qsizetype i = 0; i < written.size(); ++i) {
        const char c = written[i];
        if (c == '\r') {
            at = 0;
        } else if (c == '\n') {
            screen.lines.append(line);
            line.clear();
            at = 0;
        } else if (written.mid(i, 3) == "\033[K") {
            line.truncate(at);
            screen.drawn.append(line);
            i += 2;
        } else {
            line = line.left(at) + QChar(c) + line.mid(at + 1);
            ++at;
        }
    }
    return screen;
}

// A run on a terminal long enough for the rate to be told, with a picture that fails: the line
// tells the count, the rate and the failure, fits the terminal's 50 columns, and leaves the
// screen as the same run prints without a terminal.
TEST(TerminalProgress, TheLineTellsTheRunAndLeavesTheOutputAlone) {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("in");
    QDir(dir.path()).mkpath("out");
    const QByteArray picture = JpegBytesOf(MakePicture(1920, 1280, [](int x, int y) {
        return static_cast<quint32>(x * 2654435761u ^ y * 40503u) & 0xFFFFFF;
    }));
    for (int i = 0; i < 25; ++i) {
        WriteBytes(dir.filePath(QString("in/%1.jpg").arg(i, 2, 10, QChar('0'))),
                   i == 3 ? QByteArray("not a picture") : picture);
    }
    const QStringList arguments{"-j", "1", "-o", dir.filePath("out"), dir.filePath("in")};
    const Screen screen = shown(onTerminal(arguments, 50));
    const ToolRun plain = RunTool(kCliProgram, arguments);
    ASSERT_EQ(plain.exitCode, 1);
    EXPECT_EQ(screen.lines.join('\n') + '\n', QString::fromLocal8Bit(plain.err + plain.out));
    EXPECT_TRUE(plain.out == "24 converted, 1 failed\n") << plain.out.constData();
    const QRegularExpression told(R"(^\[#*\.*\] \d+/25  \d+\.\d/s  .+ left  1 failed$)");
    bool tells = false;
    for (const QString& line : screen.drawn) {
        EXPECT_LE(line.size(), 49) << line.toStdString();
        tells = tells || told.match(line).hasMatch();
    }
    EXPECT_TRUE(tells) << screen.drawn.join('\n').toStdString();
}

// A dumb terminal shows escape codes as text: it is written to as a log is.
TEST(TerminalProgress, ADumbTerminalGetsNoEscapeCodes) {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("out");
    WriteBytes(dir.filePath("a.jpg"), JpegBytesOf(MakePicture(64, 64, [](int x, int y) {
                   return static_cast<quint32>(x * 5 + y);
               })));
    for (const QStringList& progress : {QStringList{}, QStringList{"--progress"}}) {
        const QByteArray written = onTerminal(
            progress + QStringList{"-o", dir.filePath("out"), dir.filePath("a.jpg")}, 80, "dumb");
        EXPECT_FALSE(written.contains('\033')) << written.constData();
        EXPECT_TRUE(written.endsWith("1 converted, 0 failed\r\n")) << written.constData();
    }
}

// With standard output and error closed by the caller, the report holds the run's JSON lines
// alone, and the run still fails for the lines it could not write.
TEST(TerminalProgress, ClosedStandardStreamsLeaveTheReportAlone) {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("out/b-grayscale.jpg/x");  // its output cannot be saved
    const QByteArray picture = JpegBytesOf(
        MakePicture(64, 64, [](int x, int y) { return static_cast<quint32>(x * 5 + y); }));
    WriteBytes(dir.filePath("a.jpg"), picture);
    WriteBytes(dir.filePath("b.jpg"), picture);
    const QByteArray program = QFile::encodeName(kCliProgram);
    const QByteArray report = QFile::encodeName(dir.filePath("report.json"));
    const QByteArray out = QFile::encodeName(dir.filePath("out"));
    const QByteArray in = QFile::encodeName(dir.path());
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(STDOUT_FILENO);
        ::close(STDERR_FILENO);
        ::execl(program.constData(), program.constData(), "--progress", "--report",
                report.constData(), "-o", out.constData(), (in + "/a.jpg").constData(),
                (in + "/b.jpg").constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    QFile written(dir.filePath("report.json"));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = written.readAll().trimmed().split('\n');
    EXPECT_EQ(lines.size(), 2);
    for (const QByteArray& line : lines) {
        EXPECT_TRUE(line.startsWith("{\"ms\"")) << line.constData();
    }
}

}  // namespace
