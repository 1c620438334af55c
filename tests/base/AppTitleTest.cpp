#include "base/AppTitle.h"

#include <gtest/gtest.h>

namespace {

TEST(AppTitle, DropsAtLeastOneWordThenWhileLongerThanForty) {
    const struct {
        const char* product;
        const char* title;
    } cases[] = {
        {"Tonvaler Software", "Tonvaler"},
        {"Tonvaler", ""},
        {"A B C", "A B"},
        // 45 characters: one word off leaves 38.
        {"Tonvaler Black and White Batch Converter 2026",
         "Tonvaler Black and White Batch Converter"},
        {"Tonvaler Black and White Batch Picture Converter Pro",
         "Tonvaler Black and White Batch Picture"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ShortenTitle(QString::fromUtf8(c.product)).toStdString(), c.title) << c.product;
    }
}

TEST(AppTitle, SetAppTitleGivesTonvaler) {
    SetAppTitle();
    EXPECT_EQ(AppTitle(), "Tonvaler");
}

}  // namespace
