#include "base/NumberText.h"
#include "base/RuntimeError.h"

#include <gtest/gtest.h>

namespace {

TEST(TextToLong, ConvertsStoredText) {
    const struct {
        const char* text;
        std::int32_t value;
    } cases[] = {
        {"85", 85},
        {" 85 ", 85},
        {"0", 0},
        {"-3", -3},
        {"84.5", 84},
        {"85.5", 86},
        {"0.5", 0},
        {"1.5", 2},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"1e2", 100},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TextToLong(QString::fromUtf8(c.text)), c.value) << c.text;
    }
}

TEST(TextToLong, RefusesWhatIsNotANumberOrTooBig) {
    const struct {
        const char* text;
        int number;
    } cases[] = {
        {"", 13},    {"abc", 13},       {"85px", 13},       {"inf", 13},
        {"nan", 13}, {"2147483648", 6}, {"-2147483649", 6}, {"1e12", 6},
    };
    for (const auto& c : cases) {
        try {
            TextToLong(QString::fromUtf8(c.text));
            ADD_FAILURE() << c.text << " converted";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), c.number) << c.text;
        }
    }
}

}  // namespace
