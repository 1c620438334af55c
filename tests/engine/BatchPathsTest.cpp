#include "engine/BatchPaths.h"

#include <gtest/gtest.h>

namespace {

TEST(BatchPaths, FileNames) {
    const struct {
        const char* path;
        const char* fileName;
        const char* output;
    } cases[] = {
        {"/pics/photo.png", "photo.png", "photo-grayscale.jpg"},
        {"/pics/my.holiday.photo.JPG", "my.holiday.photo.JPG", "my.holiday.photo-grayscale.jpg"},
        {"/pics/a.b.c.png", "a.b.c.png", "a.b.c-grayscale.jpg"},
        {"/pics/name.", "name.", "name-grayscale.jpg"},
        {"/pics/.png", ".png", "-grayscale.jpg"},
        {"/pics/README", "README", "README-grayscale.jpg"},  // no dot: keeps its whole name
        {"photo.gif", "photo.gif", "photo-grayscale.jpg"},
        {"/pics/", "", "-grayscale.jpg"},
        {"/pics.d/noext", "noext", "noext-grayscale.jpg"},  // a dot in the folder is not the name's
    };
    for (const auto& c : cases) {
        const QString path = QString::fromUtf8(c.path);
        EXPECT_EQ(GetFileName(path).toStdString(), c.fileName) << c.path;
        EXPECT_EQ(OutputFileName(GetFileName(path)).toStdString(), c.output) << c.path;
    }
}

TEST(BatchPaths, TheOutputPathJoinsTheFolderAsTyped) {
    EXPECT_EQ(OutputPath("/out", "/pics/my.holiday.photo.JPG"),
              "/out/my.holiday.photo-grayscale.jpg");
    EXPECT_EQ(OutputPath("/out/", "/pics/a.png"), "/out//a-grayscale.jpg");
}

}  // namespace
