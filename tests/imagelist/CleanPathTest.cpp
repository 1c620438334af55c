#include "imagelist/CleanPath.h"

#include <gtest/gtest.h>

namespace {

TEST(CleanPath, CollapsesDoubledSeparators) {
    const struct {
        const char* path;
        const char* cleaned;
    } cases[] = {
        {"", ""},
        {"a.jpg", "a.jpg"},
        {"pics//a.jpg", "pics/a.jpg"},
        {"a///b", "a//b"},     // three become two
        {"a////b", "a//b"},    // four become two
        {"a/////b", "a///b"},  // one pass over pairs
        {"/pics//a.jpg", "/pics/a.jpg"},
        {"/home/ana/a.jpg", "/home/ana/a.jpg"},  // one leading separator stays one
        {"//server/share//a.jpg", "//server/share/a.jpg"},
        {"///server/x", "//server/x"},  // two or more leading become exactly two
        {"////server//x", "//server/x"},
        {"//x.jpg", "//x.jpg"},
        {"/", "/"},
        {"//", "//"},
        {"back\\\\slash", "back\\\\slash"},  // only the platform's separator counts
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CleanPath(QString::fromUtf8(c.path)).toStdString(), c.cleaned) << c.path;
    }
}

TEST(JoinPath, AddsOneSeparatorUnlessTheFolderEndsInOne) {
    EXPECT_EQ(JoinPath("/pics", "a.jpg"), "/pics/a.jpg");
    EXPECT_EQ(JoinPath("/", "a.jpg"), "/a.jpg");
    EXPECT_EQ(JoinPath("/pics/", "a.jpg"), "/pics/a.jpg");
    EXPECT_EQ(JoinPath("//server/share", "a.jpg"), "//server/share/a.jpg");
    EXPECT_EQ(JoinPath("", "a.jpg"), "/a.jpg");
}

}  // namespace
