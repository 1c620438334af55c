#include "base/FileExists.h"

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

TEST(FileExists, FolderExistsAndShortFilename) {
    QTemporaryDir dir;
    QFile(dir.filePath("a.jpg")).open(QIODevice::WriteOnly);
    const struct {
        QString path;
        bool folder;
        bool file;
    } cases[] = {
        {dir.path(), true, true},
        {dir.path() + "/", true, true},
        {dir.filePath("a.jpg"), false, true},
        {dir.filePath("missing"), false, false},
        {QString(), false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FolderExists(c.path), c.folder) << c.path.toStdString();
        EXPECT_EQ(ShortFilename(c.path), c.file ? c.path : QString()) << c.path.toStdString();
    }
}

}  // namespace
