#pragma once

#include <cstdint>
#include <limits>
#include <string>

// What the progress line of a run tells.
struct ProgressFigures {
    std::int64_t done = 0;  // inputs taken up, converted or failed
    std::int64_t total = 0;
    std::int64_t failed = 0;  // so far in the run, those left out before it began too
    double perSecond = -1;    // the recent rate of `done`; below 0 while it cannot be told
};

// Room for the whole line, widest bar and all.
inline constexpr int kWholeLine = std::numeric_limits<int>::max();

// The progress line: "[#######.......] 4/10  12.5/s  3m 20s left  2 failed". The rate and the
// time left appear once the rate can be told (the time left while it is above 0), the failures
// once there are some. Fitted into `room` characters: the bar narrows, then goes, then the
// rate, the time left and the failures go in turn; "" when not even the count fits.
std::string ProgressText(const ProgressFigures& figures, int room = kWholeLine);
