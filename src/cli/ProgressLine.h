#pragma once

#include "cli/ProgressText.h"
#include "cli/RecentRate.h"

#include <QByteArray>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <string>

// The progress line of a run on `err`, kept up to date by a timer of the event loop that runs
// the conversions. On a terminal: one line drawn over itself at most kTerminalRedraws times a
// second, fitted to the terminal's width as it is at each drawing (a window resized during the
// run is followed). Elsewhere (a pipe or a file, with --progress): a whole line a second,
// without carriage returns or escape codes, for a log. The run's own lines go through say(), so
// that none lands inside the line.
class ProgressLine {
  public:
    enum class Shown { No, OnTerminal, AsLines };
    static constexpr int kTerminalRedraws = 4;

    // `failedBefore`: the inputs the run left out as failures before it began.
    ProgressLine(std::FILE* err, Shown shown, std::int64_t total, std::int64_t failedBefore);

    // The run begins: the clock starts, and a terminal's line is drawn.
    void start();
    // One more input taken up.
    void taken(bool failed);
    // Prints `line` (its newline included) on `err`: on a terminal the progress line is cleared
    // for it and drawn again below it.
    void say(const QByteArray& line);
    // The run is over: a terminal's line is cleared, for the run's last words.
    void end();

  private:
    void tick();
    // What the terminal holds for the line: its width less the last column, where a character
    // makes some terminals wrap.
    int room() const;

    std::FILE* err_;
    Shown shown_;
    ProgressFigures figures_;
    RecentRate rate_{RecentRate::Clock::now()};
    QTimer timer_;
    std::string drawn_;  // what the terminal shows of the line
};
