#include "base/RuntimeError.h"
#include "base/Trap.h"
#include "imagelist/AddFolder.h"
#include "support/FakeDialogs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>

namespace {

TEST(MatchesPattern, FollowsTheWildcardRulesOfTheFileDialogs) {
    const struct {
        const char* pattern;
        const char* name;
        bool matches;
    } cases[] = {
        {"*.jpg", "a.jpg", true},   {"*.jpg", "A.JPG", true},      {"*.jpg", "b.Jpg", true},
        {"*.jpg", "a.jpeg", false}, {"*.jpg", "a.jpg.txt", false}, {"*.jpg", ".jpg", true},
        {"*.*", "README", true},    {"*.*", "a.b.c", true},        {"*.*", ".hidden", true},
        {"*..jpg", "a.jpg", false}, {"*..jpg", "a..jpg", true},    {"*.jp?", "a.jpg", true},
        {"*.jp?", "a.jpe", true},   {"*.jp?", "a.jp", false},      {"*.[x]", "a.[x]", true},
        {"*.[x]", "a.x", false},    {"*.png", "ünï.PNG", true},    {"*.txt", "notes.txt", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MatchesPattern(QString::fromUtf8(c.name), QString::fromUtf8(c.pattern)),
                  c.matches)
            << c.pattern << " " << c.name;
    }
}

TEST(HasBadNameChars, ControlCodesAndQuestionMarksOnly) {
    const struct {
        QString name;
        bool bad;
    } cases[] = {
        {"Holiday 2026", false},
        {QString::fromUtf8("Ünïcødé 写真"), false},
        {"", false},
        {"a\x01", true},
        {"tab\tin", true},
        {"del\x7f", true},
        {QString("c1") + QChar(0x85), true},
        {QString("c1") + QChar(0x9F), true},
        {QString("ok") + QChar(0xA0), false},
        {"why?", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HasBadNameChars(c.name), c.bad) << c.name.toStdString();
    }
}

// A folder tree in a temporary folder, and the walk over it.
class FolderScanTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    FakeDialogs dialogs;
    int yields = 0;

    QString root() const { return dir.path(); }
    void file(const QString& relative) {
        QDir(root()).mkpath(QFileInfo(relative).path());
        QFile f(root() + "/" + relative);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    void folder(const QString& relative) { QDir(root()).mkpath(relative); }

    QStringList walk(const QString& pattern = "*.*",
                     FolderListing& listing = FolderListing::system(), QString from = {}) {
        FolderScan scan(
            dialogs,
            [this] {
                ++yields;
                return true;
            },
            listing);
        Trap trap(dialogs, "in test ");
        QStringList found;
        scan.CollectFolderFiles(from.isEmpty() ? root() : from, pattern, trap,
                                [&](const QString& p) { found.append(p); });
        return found;
    }
    QStringList relative(const QStringList& paths) const {
        QStringList r;
        for (const QString& p : paths) r.append(p.mid(root().size() + 1));
        return r;
    }
};

TEST_F(FolderScanTest, ARootAloneGivesItsOwnFiles) {
    file("b.jpg");
    file("a.jpg");
    QStringList folders{root() + "/"};
    FolderScan(dialogs, {}).GetSubDirectories2016(folders, true);
    EXPECT_EQ(folders, QStringList{root() + "/"});
    EXPECT_EQ(relative(walk()), QStringList({"a.jpg", "b.jpg"}));
}

TEST_F(FolderScanTest, FoldersComeLevelByLevel) {
    file("A/A1/deep.jpg");
    file("B/b.jpg");
    file("A/a.jpg");
    file("top.jpg");
    QStringList folders{root() + "/"};
    FolderScan(dialogs, [this] {
        ++yields;
        return true;
    }).GetSubDirectories2016(folders, true);
    EXPECT_EQ(folders,
              QStringList({root() + "/", root() + "/A/", root() + "/B/", root() + "/A/A1/"}));
    EXPECT_GT(yields, 0);
    EXPECT_EQ(relative(walk()), QStringList({"top.jpg", "A/a.jpg", "B/b.jpg", "A/A1/deep.jpg"}));
}

TEST_F(FolderScanTest, SkipsTildeNamesHiddenFilesAndWhatCannotBeOpened) {
    file("a.jpg");
    file("~lock.jpg");
    file(".hidden.jpg");
    file("notes.txt");
    folder("folder.jpg");
    ::mkfifo((root() + "/pipe.jpg").toLocal8Bit().constData(), 0600);
    QFile::link(root() + "/nowhere", root() + "/dangling.jpg");
    EXPECT_EQ(relative(walk()), QStringList({"a.jpg", "notes.txt"}));
    // The folder's own listing holds the hidden file; only the walk leaves it out.
    FolderScan scan(dialogs, {});
    EXPECT_EQ(scan.GetFilesInFolder(root(), "*.*"),
              QStringList({".hidden.jpg", "a.jpg", "notes.txt", "~lock.jpg"}));
    EXPECT_EQ(scan.GetFilesInFolder(root() + "/", "*.jpg"),
              QStringList({".hidden.jpg", "a.jpg", "~lock.jpg"}));
}

TEST_F(FolderScanTest, AHiddenFolderIsNotWalkedInto) {
    file(".cache/inside.jpg");
    file("shown/inside.jpg");
    file(".secret/shown/deeper.jpg");
    EXPECT_EQ(relative(walk()), QStringList({"shown/inside.jpg"}));
    // Chosen as the root, a hidden folder gives its own files but not its subfolders'.
    file(".secret/own.jpg");
    EXPECT_EQ(relative(walk("*.*", FolderListing::system(), root() + "/.secret")),
              QStringList({".secret/own.jpg"}));
}

TEST_F(FolderScanTest, ManyFilesAllComeBack) {
    for (int count : {101, 150, 151}) {
        QTemporaryDir many;
        for (int i = 0; i < count; ++i) {
            QFile f(many.filePath(QString("p%1.jpg").arg(i, 3, 10, QChar('0'))));
            f.open(QIODevice::WriteOnly);
        }
        const QStringList names = FolderScan(dialogs, {}).GetFilesInFolder(many.path(), "*.jpg");
        ASSERT_EQ(names.size(), count);
        EXPECT_EQ(names.first(), "p000.jpg");
        EXPECT_EQ(names.last(), QString("p%1.jpg").arg(count - 1, 3, 10, QChar('0')));
    }
}

TEST_F(FolderScanTest, PatternsFromTheExtensionAnswer) {
    file("a.jpg");
    file("b.JPG");
    file("c.Jpg");
    file("d.png");
    file("e..jpg");
    file("README");
    EXPECT_EQ(relative(walk("*.jpg")), QStringList({"a.jpg", "b.JPG", "c.Jpg", "e..jpg"}));
    EXPECT_EQ(relative(walk("*.*")).size(), 6);
    EXPECT_EQ(relative(walk("*..jpg")), QStringList({"e..jpg"}));
    EXPECT_EQ(relative(walk("*.jp?")), QStringList({"a.jpg", "b.JPG", "c.Jpg", "e..jpg"}));
}

// Lists the real folders but fails for the ones named, as a folder without read permission
// would for an ordinary user.
struct RefusingListing : FolderListing {
    QStringList refused;
    int number = ErrorNumber::PermissionDenied;
    std::vector<Entry> entries(const QString& folder) override {
        for (const QString& r : refused) {
            if (QDir::cleanPath(folder) == QDir::cleanPath(r)) {
                throw RuntimeError(number, "Permission denied: " + folder.toStdString());
            }
        }
        return FolderListing::system().entries(folder);
    }
};

TEST_F(FolderScanTest, AFolderThatMayNotBeListedIsDroppedWithItsFiles) {
    file("open/a.jpg");
    file("closed/b.jpg");
    file("closed/inner/c.jpg");
    file("z.jpg");
    for (int number : {ErrorNumber::PermissionDenied, ErrorNumber::PathNotFound}) {
        RefusingListing listing;
        listing.refused = {root() + "/closed"};
        listing.number = number;
        QStringList folders{root() + "/"};
        FolderScan(dialogs, {}, listing).GetSubDirectories2016(folders, true);
        EXPECT_EQ(folders, QStringList({root() + "/", root() + "/open/"})) << number;
        EXPECT_EQ(relative(walk("*.*", listing)), QStringList({"z.jpg", "open/a.jpg"})) << number;
    }
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(FolderScanTest, AFileListingThatFailsIsReportedAndYieldsNothingForThatFolder) {
    file("a/x.jpg");
    file("b/y.jpg");
    // Folder a cannot be read for a reason other than permissions: the subfolder scan gives it
    // up quietly and keeps it; the listing of its files is then reported.
    struct FailingFiles : FolderListing {
        QString broken;
        std::vector<Entry> entries(const QString& folder) override {
            if (QDir::cleanPath(folder) == broken) {
                throw RuntimeError(ErrorNumber::PathFileAccess, "Input/output error");
            }
            return FolderListing::system().entries(folder);
        }
    } listing;
    listing.broken = root() + "/a";
    FolderScan scan(dialogs, {}, listing);
    QStringList reported;
    Trap trap([&](const RuntimeError& e, int line) {
        reported.append(QString("%1 %2").arg(line).arg(QString::fromStdString(e.description())));
    });
    QStringList found;
    scan.CollectFolderFiles(root(), "*.*", trap, [&](const QString& p) { found.append(p); });
    EXPECT_EQ(relative(found), QStringList({"b/y.jpg"}));
    EXPECT_EQ(reported, QStringList({"122 Input/output error"}));
}

TEST_F(FolderScanTest, ALinkLoopEnds) {
    file("A/a.jpg");
    QFile::link(root(), root() + "/A/back");
    QFile::link(root() + "/A", root() + "/again");
    EXPECT_EQ(relative(walk()), QStringList({"A/a.jpg"}));
}

TEST_F(FolderScanTest, ALinkIsWalkedUnlessItsFolderIsWalkedOrHasAPathWithoutOne) {
    QTemporaryDir outside;  // "@" stands for it in the links' targets
    const struct {
        const char* what;
        QStringList files;
        QList<QPair<QString, QString>> links;  // name, target
        QStringList expected;
    } cases[] = {
        {"a visible link to a hidden folder",
         {".hidden/p.jpg"},
         {{"shown", ".hidden"}},
         {"shown/p.jpg"}},
        {"a link listed before the folder it leads to",
         {"z-real/p.jpg"},
         {{"a-link", "z-real"}},
         {"z-real/p.jpg"}},
        // Walked before the folder it leads to is found: the folder keeps its own path as well.
        {"a link a level above the folder it leads to",
         {"deep/er/p.jpg"},
         {{"a-link", "deep/er"}},
         {"a-link/p.jpg", "deep/er/p.jpg"}},
        {"a link out of the tree, and a second to the same folder",
         {"@/o.jpg"},
         {{"l1", "@"}, {"l2", "@"}},
         {"l1/o.jpg"}},
        {"a loop below a link",
         {".h/p.jpg"},
         {{"shown", ".h"}, {".h/back", ".h"}},
         {"shown/p.jpg"}},
    };
    for (const auto& c : cases) {
        for (const QString& name : QDir(root()).entryList(QDir::AllEntries | QDir::Hidden |
                                                          QDir::NoDotAndDotDot | QDir::System)) {
            QFileInfo(root() + "/" + name).isSymLink()
                ? QFile::remove(root() + "/" + name)
                : QDir(root() + "/" + name).removeRecursively();
        }
        QDir(outside.path()).removeRecursively();
        QDir().mkpath(outside.path());
        const auto place = [&](QString p) {
            return p.startsWith("@") ? outside.path() + p.mid(1) : root() + "/" + p;
        };
        for (const QString& f : c.files) {
            QDir().mkpath(QFileInfo(place(f)).path());
            QFile(place(f)).open(QIODevice::WriteOnly);
        }
        for (const auto& [name, target] : c.links) {
            ASSERT_TRUE(QFile::link(place(target), place(name))) << c.what;
        }
        EXPECT_EQ(relative(walk()), c.expected) << c.what;
    }
}

TEST_F(FolderScanTest, TheRootFolderGivesPathsWithOneSeparator) {
    // A listing of "/" that shows only /etc, and of /etc only passwd: real places, so that the
    // folder and file tests hold.
    struct RootListing : FolderListing {
        std::vector<Entry> entries(const QString& folder) override {
            if (folder == "/")
                return {{"etc", Kind::Folder, false}};
            if (folder == "/etc/")
                return {{"passwd", Kind::File, false}};
            return {};
        }
    } listing;
    FolderScan scan(dialogs, {}, listing);
    Trap trap(dialogs, "in test ");
    QStringList found;
    scan.CollectFolderFiles("/", "*.*", trap, [&](const QString& p) { found.append(p); });
    EXPECT_EQ(found, QStringList({"/etc/passwd"}));
}

TEST_F(FolderScanTest, AYieldThatSaysStopEndsTheWalk) {
    for (const char* f : {"a/1.jpg", "b/2.jpg", "c/3.jpg"}) file(f);
    FolderScan scan(dialogs, [] { return false; });
    Trap trap(dialogs, "in test ");
    QStringList found;
    scan.CollectFolderFiles(root(), "*.*", trap, [&](const QString& p) { found.append(p); });
    EXPECT_TRUE(scan.stopped());
    EXPECT_TRUE(found.isEmpty());
}

}  // namespace
