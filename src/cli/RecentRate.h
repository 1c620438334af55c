#pragma once

#include <chrono>
#include <cstddef>
#include <deque>

// Inputs taken up a second, over the last few seconds, so that the rate follows a run that
// speeds up or slows down: the inputs of the last kWindow, or of the last kLeast when those came
// slower, over the time since the one before them. Without a new one the rate falls as time
// goes on, as a stalled run's should.
class RecentRate {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kWindow{5};
    static constexpr std::size_t kLeast = 10;
    // Enough for a good measure; more would only take memory at thousands a second.
    static constexpr std::size_t kMost = 4096;
    // A rate before this is mostly the run's start (threads, libraries).
    static constexpr std::chrono::seconds kFirst{1};

    explicit RecentRate(Clock::time_point start) : start_(start), since_(start) {}

    // One more taken up, at `at` (never before the last).
    void add(Clock::time_point at);
    // The rate at `now`; -1 within kFirst of the start.
    double perSecond(Clock::time_point now) const;

  private:
    Clock::time_point start_;
    Clock::time_point since_;  // those counted came after this
    std::deque<Clock::time_point> recent_;
};
