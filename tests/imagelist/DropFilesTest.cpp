#include "base/WindowPointer.h"
#include "imagelist/DropFiles.h"
#include "imagelist/ImageList.h"
#include "support/FakeDialogs.h"

#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

class DropFilesTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    FakeDialogs dialogs;
    WindowPointer pointer;
    ImageList list{pointer};

    QString make(const QString& relative) {
        const QString path = dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        return path;
    }
    QString folder(const QString& relative) {
        QDir().mkpath(dir.filePath(relative));
        return dir.filePath(relative);
    }
    QStringList drop(const QStringList& paths) {
        ListView1_OLEDragDrop(paths, list, dialogs, [] { return true; });
        QStringList rows;
        for (int i = 1; i <= list.RowCount(); ++i)
            rows.append(list.RowText(i).mid(dir.path().size() + 1));
        return rows;
    }
};

TEST_F(DropFilesTest, FilesAreAddedExactlyAsGivenInTheDropsOrder) {
    const QStringList files = {make("c.jpg"), make("a.png"), make("b.txt")};
    EXPECT_EQ(drop(files), QStringList({"c.jpg", "a.png", "b.txt"}));
    // Dropped directly, "~" names and hidden files count like any other.
    EXPECT_EQ(drop({make("~lock.jpg"), make(".hidden.jpg")}).mid(3),
              QStringList({"~lock.jpg", ".hidden.jpg"}));
}

TEST_F(DropFilesTest, AFolderGivesEveryFileBelowIt) {
    make("pics/a.jpg");
    make("pics/~b.jpg");
    make("pics/notes.txt");
    make("pics/sub/c.png");
    EXPECT_EQ(drop({folder("pics")}),
              QStringList({"pics/a.jpg", "pics/notes.txt", "pics/sub/c.png"}));
}

TEST_F(DropFilesTest, FoldersAndFilesTogetherKeepTheDropsOrder) {
    make("one/1.jpg");
    make("two/2.jpg");
    folder("empty");
    const QString loose = make("loose.jpg");
    EXPECT_EQ(drop({folder("two"), folder("empty"), loose, folder("one")}),
              QStringList({"two/2.jpg", "loose.jpg", "one/1.jpg"}));
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(DropFilesTest, APathGoneSinceTheDragIsSkipped) {
    const QString kept = make("kept.jpg");
    EXPECT_EQ(drop({dir.filePath("gone.jpg"), kept}), QStringList({"kept.jpg"}));
}

TEST_F(DropFilesTest, OnlyFileListsAreTaken) {
    QMimeData text;
    text.setText("just some words");
    EXPECT_FALSE(OffersFiles(&text));
    QMimeData web;
    web.setUrls({QUrl("https://www.kestrova.example/a.jpg")});
    EXPECT_FALSE(OffersFiles(&web));
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/pics/a b.jpg"), QUrl("https://x.example/y"),
                   QUrl::fromLocalFile(QString::fromUtf8("/pics/Ünï.png"))});
    EXPECT_TRUE(OffersFiles(&files));
    EXPECT_EQ(DroppedPaths(&files),
              QStringList({"/pics/a b.jpg", QString::fromUtf8("/pics/Ünï.png")}));
}

}  // namespace
