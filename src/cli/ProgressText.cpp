#include "cli/ProgressText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kWidestBar = 30;
constexpr int kNarrowestBar = 10;  // below this a bar tells too little for its room
const std::string kGap = "  ";

template <typename... Values>
std::string printed(const char* format, Values... values) {
    char text[64];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string rateText(double perSecond) {
    // Three figures at most, and two below one a second, where one would round a slow run to 0.
    const char* format = perSecond >= 99.95 ? "%.0f/s" : perSecond >= 0.995 ? "%.1f/s" : "%.2f/s";
    return printed(format, perSecond);
}

std::string timeLeftText(double seconds) {
    // Rounded up: "0s left" while pictures remain would be wrong. Bounded, so that a rate near
    // 0 cannot overflow the count of seconds.
    const auto s = static_cast<long long>(std::ceil(std::min(seconds, 1e12)));
    if (s < 60) {
        return printed("%llds left", s);
    }
    if (s < 3600) {
        return printed("%lldm %02llds left", s / 60, s % 60);
    }
    const long long minutes = (s + 59) / 60;
    if (minutes < 24 * 60) {
        return printed("%lldh %02lldm left", minutes / 60, minutes % 60);
    }
    const long long hours = (minutes + 59) / 60;
    return printed("%lldd %02lldh left", hours / 24, hours % 24);
}

std::string bar(const ProgressFigures& f, int width) {
    const int filled =
        f.total <= 0
            ? 0
            : static_cast<int>(
                  std::clamp(static_cast<double>(f.done) / static_cast<double>(f.total), 0.0, 1.0) *
                  width);
    return '[' + std::string(filled, '#') + std::string(width - filled, '.') + "] ";
}

}  // namespace

std::string ProgressText(const ProgressFigures& f, int room) {
    // The parts after the count, in the order they go when the room is short.
    std::vector<std::string> parts;
    if (f.perSecond >= 0) {
        parts.push_back(rateText(f.perSecond));
        if (f.perSecond > 0 && f.done < f.total) {
            parts.push_back(timeLeftText(static_cast<double>(f.total - f.done) / f.perSecond));
        }
    }
    if (f.failed > 0) {
        parts.push_back(printed("%lld failed", static_cast<long long>(f.failed)));
    }
    const std::string count =
        printed("%lld/%lld", static_cast<long long>(f.done), static_cast<long long>(f.total));
    for (std::size_t dropped = 0; dropped <= parts.size(); ++dropped) {
        std::string text = count;
        for (std::size_t i = dropped; i < parts.size(); ++i) {
            text += kGap + parts[i];
        }
        const int barRoom = room - static_cast<int>(text.size()) - 3;  // "[" and "] "
        if (dropped == 0 && barRoom >= kNarrowestBar) {
            return bar(f, std::min(barRoom, kWidestBar)) + text;
        }
        if (static_cast<int>(text.size()) <= room) {
            return text;
        }
    }
    return {};
}
