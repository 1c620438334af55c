#include "base/DefaultOutputFolder.h"
#include "base/RuntimeError.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(DefaultOutputFolder, TheFirstOfDesktopPicturesAndHomeThatExists) {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("present");
    const QString present = dir.filePath("present");
    const QString missing = dir.filePath("missing");
    const QString home = dir.filePath("home");
    const struct {
        QString desktop, pictures, expected;
    } cases[] = {
        {present, missing, present + "/"},
        {missing, present, present + "/"},
        {missing, missing, home + "/"},
        {missing, "", home + "/"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DefaultOutputFolder([&] { return c.desktop; }, [&] { return c.pictures; },
                                      [&] { return home; }),
                  c.expected)
            << c.desktop.toStdString() << " " << c.pictures.toStdString();
    }
    try {
        DefaultOutputFolder([] { return QString(); }, [&] { return present; });
        FAIL() << "a failed desktop lookup gives no default";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 5);
    }
}

}  // namespace
