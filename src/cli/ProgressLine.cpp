#include "cli/ProgressLine.h"

#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

constexpr char kClear[] = "\r\033[K";  // to the line's start, and erase it
constexpr int kUsualColumns = 80;      // where the terminal does not say

void write(std::FILE* to, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), to);
    std::fflush(to);
}

// Writes the progress line's own bytes; false when no one reads them any more (a pipe whose
// reader ended, `| head -1`). The line is a side show: its reader gone ends the line, not the
// run, which SIGPIPE would. The run's own lines are written as ever.
bool writeAside(std::FILE* to, const QByteArray& bytes) {
    sigset_t pipe;
    sigset_t before;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &before);
    errno = 0;
    write(to, bytes);
    const bool gone = std::ferror(to) && errno == EPIPE;
    if (gone) {
        const struct timespec now {};
        sigtimedwait(&pipe, nullptr, &now);  // the signal the write raised, held, is dropped
        std::clearerr(to);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return !gone;
}

}  // namespace

ProgressLine::ProgressLine(std::FILE* err, Shown shown, std::int64_t total,
                           std::int64_t failedBefore)
    : err_(err), shown_(shown) {
    figures_.total = total;
    figures_.failed = failedBefore;
    timer_.setInterval(shown == Shown::OnTerminal ? 1000 / kTerminalRedraws : 1000);
    timer_.setTimerType(Qt::PreciseTimer);  // a coarse one comes up to 5 % early: no rate yet
    QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
}

void ProgressLine::start() {
    if (shown_ == Shown::No || figures_.total == 0) {
        return;
    }
    rate_ = RecentRate(RecentRate::Clock::now());
    timer_.start();
    if (shown_ == Shown::OnTerminal) {
        tick();
    }
}

void ProgressLine::taken(bool failed) {
    if (shown_ == Shown::No) {
        return;
    }
    ++figures_.done;
    figures_.failed += failed ? 1 : 0;
    rate_.add(RecentRate::Clock::now());
}

void ProgressLine::say(const QByteArray& line) {
    if (shown_ != Shown::OnTerminal) {
        write(err_, line);
        return;
    }
    // One write: the line, and the progress line again below it, with what `line` told.
    drawn_ = ProgressText(figures_, room());
    write(err_, kClear + line + '\r' + QByteArray::fromStdString(drawn_) + "\033[K");
}

void ProgressLine::end() {
    timer_.stop();
    if (shown_ == Shown::OnTerminal) {
        write(err_, kClear);
        drawn_.clear();
    }
}

void ProgressLine::tick() {
    figures_.perSecond = rate_.perSecond(RecentRate::Clock::now());
    bool read = true;
    if (shown_ == Shown::AsLines) {
        read = writeAside(err_, QByteArray::fromStdString(ProgressText(figures_)) + '\n');
    } else if (std::string text = ProgressText(figures_, room()); text != drawn_) {
        drawn_ = std::move(text);
        read = writeAside(err_, '\r' + QByteArray::fromStdString(drawn_) + "\033[K");
    }
    if (!read) {
        timer_.stop();
        shown_ = Shown::No;
    }
}

int ProgressLine::room() const {
    struct winsize size {};
    const int fd = ::fileno(err_);
    const int columns = fd >= 0 && ::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0
                            ? size.ws_col
                            : kUsualColumns;
    return columns - 1;
}
