#include "base/ErrorReport.h"
#include "base/RuntimeError.h"
#include "base/Trap.h"
#include "support/FakeDialogs.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

namespace {

const char kLabel[] = "in Grisanto2021/08/31.Form1.Form_Load ";

TEST(ErrorReport, TextIsBuiltByteForByte) {
    EXPECT_EQ(ErrorReportText("File not found", kLabel, 140).toStdString(),
              "File not found\r\nin Grisanto2021/08/31.Form1.Form_Load at line 140\r\r"
              "Please email screenshot of this message to support@kestrova.example");
}

TEST(ErrorReport, EmptyDescriptionLeavesTheFirstLineEmpty) {
    EXPECT_TRUE(ErrorReportText("", kLabel, 0).startsWith("\r\nin Grisanto"));
    EXPECT_TRUE(ErrorReportText("", kLabel, 0).contains("at line 0\r\r"));
}

TEST(ErrorReport, IsAModalWarningTitledApplicationError) {
    FakeDialogs dialogs;
    ShowErrorReport(dialogs, "x", kLabel, 7);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].style, Dialogs::Style::Warning);
    EXPECT_EQ(dialogs.messages[0].title, "Application Error");
}

TEST(Trap, FailureBeforeTheFirstNumberedLineReportsLineZero) {
    FakeDialogs dialogs;
    Trap trap(dialogs, kLabel);
    trap.run([] { throw RuntimeError(5, "early"); });
    ASSERT_EQ(dialogs.reports().size(), 1);
    EXPECT_EQ(dialogs.reports()[0], ErrorReportText("early", kLabel, 0));
}

TEST(Trap, TwoFailuresGiveTwoReportsInOrderAndTheProcedureRunsToItsEnd) {
    FakeDialogs dialogs;
    Trap trap(dialogs, kLabel);
    std::vector<int> ran;
    trap.line(100, [&] { ran.push_back(100); });
    trap.line(102, [&] { throw RuntimeError(53, "first"); });
    trap.line(104, [&] { ran.push_back(104); });
    trap.line(106, [&] { throw RuntimeError(70, "second"); });
    trap.run([&] { throw RuntimeError(5, "unnumbered after 106"); });
    trap.line(108, [&] { ran.push_back(108); });
    EXPECT_EQ(ran, (std::vector<int>{100, 104, 108}));
    EXPECT_EQ(
        dialogs.reports(),
        QStringList({ErrorReportText("first", kLabel, 102), ErrorReportText("second", kLabel, 106),
                     ErrorReportText("unnumbered after 106", kLabel, 106)}));
}

TEST(Trap, AFailingTestIsReportedAndRunsItsBlock) {
    FakeDialogs dialogs;
    Trap trap(dialogs, kLabel);
    const bool held = trap.test(106, []() -> bool { throw RuntimeError(13, "bad test"); });
    EXPECT_TRUE(held);
    EXPECT_EQ(dialogs.reports(), QStringList{ErrorReportText("bad test", kLabel, 106)});
    EXPECT_FALSE(trap.test(108, [] { return false; }));
}

TEST(Trap, OtherExceptionsBecomeRuntimeErrorsWithTheirText) {
    struct Case {
        std::function<void()> raise;
        const char* description;
    };
    const Case cases[] = {
        {[] { throw std::bad_alloc(); }, "Out of memory"},
        {[] { throw std::runtime_error("disk on fire"); }, "disk on fire"},
        {[] { throw 42; }, "Internal error"},
    };
    for (const Case& c : cases) {
        FakeDialogs dialogs;
        Trap trap(dialogs, kLabel);
        trap.line(120, c.raise);
        EXPECT_EQ(dialogs.reports(), QStringList{ErrorReportText(c.description, kLabel, 120)});
    }
}

TEST(Trap, ADivertedErrorEndsTheProcedureWithoutAReport) {
    FakeDialogs dialogs;
    Trap trap(dialogs, kLabel);
    int diverted = 0;
    bool later = false;
    trap.divert(20476, [&] { ++diverted; });
    trap.line(112, [] { throw RuntimeError(20476, "too many"); });
    trap.line(114, [&] { later = true; });
    EXPECT_FALSE(trap.test(116, [] { return true; }));
    EXPECT_EQ(diverted, 1);
    EXPECT_FALSE(later);
    EXPECT_TRUE(trap.ended());
    EXPECT_TRUE(dialogs.reports().isEmpty());
}

TEST(Trap, OnlyTheDivertedNumberIsDiverted) {
    FakeDialogs dialogs;
    Trap trap(dialogs, kLabel);
    trap.divert(20476, [] {});
    trap.line(112, [] { throw RuntimeError(5, "other"); });
    EXPECT_FALSE(trap.ended());
    EXPECT_EQ(dialogs.reports().size(), 1);
}

TEST(RuntimeError, ErrnoValuesMapToTheRuntimesNumbers) {
    EXPECT_EQ(RuntimeError::fromErrno(ENOENT, "/x").number(), 53);
    EXPECT_EQ(RuntimeError::fromErrno(EACCES, "/x").number(), 70);
    EXPECT_EQ(RuntimeError::fromErrno(ENOTDIR, "/x").number(), 76);
    EXPECT_EQ(RuntimeError::fromErrno(EIO, "/x").number(), 75);
    EXPECT_EQ(RuntimeError::fromErrno(ENOENT, "/x").description(), "No such file or directory: /x");
}

}  // namespace
