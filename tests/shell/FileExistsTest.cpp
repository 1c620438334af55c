#include "shell/FileExists.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(FileExists, TrueExactlyWhenTheModifiedTimeCanBeRead) {
    QTemporaryDir dir;
    QFile(dir.filePath("a.jpg")).open(QIODevice::WriteOnly);
    QDir(dir.path()).mkdir("folder");
    QFile::link(dir.filePath("gone"), dir.filePath("dangling"));
    const struct {
        QString path;
        bool exists;
    } cases[] = {
        {dir.filePath("a.jpg"), true},
        {dir.filePath("folder"), true},
        {dir.filePath("missing"), false},
        {dir.filePath("dangling"), false},
        {QString(), false},
        {dir.filePath("a.jpg/x"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileExists(c.path), c.exists) << c.path.toStdString();
    }
}

}  // namespace
