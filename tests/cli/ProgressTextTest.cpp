#include "cli/ProgressText.h"

#include <gtest/gtest.h>

namespace {

// The line's words, and how it gives up its parts to fit: the bar narrows to 10, then goes, then
// the rate, the time left and the failures, one by one; the count alone or nothing.
TEST(ProgressText, TellsTheRunInTheRoomThereIs) {
    const ProgressFigures some{4, 10, 2, 12.5};  // its words: "4/10  12.5/s  1s left  2 failed"
    const std::string words = "4/10  12.5/s  1s left  2 failed";
    const auto bar = [](int filled, int empty) {
        return '[' + std::string(filled, '#') + std::string(empty, '.') + "] ";
    };
    const struct {
        ProgressFigures figures;
        int room;
        std::string text;
    } cases[] = {
        {{4, 10, 0, -1}, kWholeLine, bar(12, 18) + "4/10"},
        {{0, 0, 0, -1}, kWholeLine, bar(0, 30) + "0/0"},
        {some, kWholeLine, bar(12, 18) + words},
        {{0, 2000, 0, 0.25}, kWholeLine, bar(0, 30) + "0/2000  0.25/s  2h 14m left"},
        {{0, 200, 0, 1}, kWholeLine, bar(0, 30) + "0/200  1.0/s  3m 20s left"},
        {{0, 3720, 0, 1}, kWholeLine, bar(0, 30) + "0/3720  1.0/s  1h 02m left"},
        {{9, 10, 0, 0}, kWholeLine, bar(27, 3) + "9/10  0.00/s"},
        {{10, 10, 1, 99.96}, kWholeLine, bar(30, 0) + "10/10  100/s  1 failed"},
        // Past 2^31: 2e9 left at 1234.4/s are 1,620,221 s, 451 hours begun.
        {{3000000000, 5000000000, 0, 1234.4},
         kWholeLine,
         bar(18, 12) + "3000000000/5000000000  1234/s  18d 19h left"},
        {some, 64, bar(12, 18) + words},
        {some, 63, bar(11, 18) + words},
        {some, 44, bar(4, 6) + words},
        {some, 43, words},
        {some, 31, words},
        {some, 30, "4/10  1s left  2 failed"},
        {some, 22, "4/10  2 failed"},
        {some, 13, "4/10"},
        {some, 4, "4/10"},
        {some, 3, ""},
        {some, 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProgressText(c.figures, c.room), c.text) << "room " << c.room;
    }
}

}  // namespace
