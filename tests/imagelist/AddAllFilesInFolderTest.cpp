#include "base/AppTitle.h"
#include "base/QSettingsStore.h"
#include "base/WindowPointer.h"
#include "imagelist/AddAllFilesInFolder.h"
#include "imagelist/ImageList.h"
#include "support/FakeDialogs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class AddAllFilesInFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetAppTitle();
        for (const char* name : {"pics/a.jpg", "pics/B.JPG", "pics/c.Jpg", "pics/d.png",
                                 "pics/sub/e.jpg", "pics/~f.jpg"}) {
            QDir().mkpath(QFileInfo(dir.filePath(name)).path());
            QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
        }
    }

    QTemporaryDir dir;
    QString pics = dir.filePath("pics");
    FakeDialogs dialogs;
    QSettingsStore settings{dir.filePath("Kestrova.ini")};
    WindowPointer pointer;
    ImageList list{pointer};
    std::function<bool()> yield = [] { return true; };

    void press() { PushButton3_Click(dialogs, settings, list, pointer, yield); }
    QStringList rows() const {
        QStringList r;
        for (int i = 1; i <= list.RowCount(); ++i) r.append(list.RowText(i).mid(pics.size() + 1));
        return r;
    }
};

TEST_F(AddAllFilesInFolderTest, TheFirstUseOffersEveryFile) {
    dialogs.inputAnswers.enqueue("*");
    dialogs.folderAnswers.enqueue(pics);
    press();
    ASSERT_EQ(dialogs.inputs.size(), 1);
    EXPECT_EQ(dialogs.inputs[0].prompt,
              "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for "
              "all doc files, etc.)");
    EXPECT_EQ(dialogs.inputs[0].title, "Tonvaler");
    EXPECT_EQ(dialogs.inputs[0].defaultAnswer, "*");
    ASSERT_EQ(dialogs.browses.size(), 1);
    EXPECT_EQ(dialogs.browses[0].prompt, "Please select folder:");
    EXPECT_EQ(dialogs.browses[0].defaultAnswer, "");
    EXPECT_EQ(rows(), QStringList({"a.jpg", "B.JPG", "c.Jpg", "d.png", "sub/e.jpg"}));
    EXPECT_EQ(settings.read("LastFolder", ""), pics);
    EXPECT_EQ(pointer.mode(), PointerMode::Default);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(AddAllFilesInFolderTest, AnExtensionMatchesInAnyCaseAndIsRemembered) {
    dialogs.inputAnswers.enqueue("jpg");
    dialogs.folderAnswers.enqueue(pics);
    press();
    EXPECT_EQ(rows(), QStringList({"a.jpg", "B.JPG", "c.Jpg", "sub/e.jpg"}));
    EXPECT_EQ(settings.read("Extension", "*"), "jpg");
    // The next time the answer and the folder are offered again, also from a store read anew.
    QSettingsStore reopened(dir.filePath("Kestrova.ini"));
    dialogs.inputAnswers.enqueue("jpg");
    PushButton3_Click(dialogs, reopened, list, pointer, yield);
    ASSERT_EQ(dialogs.browses.size(), 2);
    EXPECT_EQ(dialogs.inputs[1].defaultAnswer, "jpg");
    EXPECT_EQ(dialogs.browses[1].defaultAnswer, pics);
}

TEST_F(AddAllFilesInFolderTest, CancellingChangesOnlyWhatWasAnswered) {
    press();  // the input box cancelled
    EXPECT_EQ(settings.read("Extension", "absent"), "absent");
    EXPECT_TRUE(dialogs.browses.isEmpty());
    dialogs.inputAnswers.enqueue("png");
    press();  // the folder browser cancelled
    EXPECT_EQ(settings.read("Extension", "absent"), "png");
    EXPECT_EQ(settings.read("LastFolder", "absent"), "absent");
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_EQ(pointer.mode(), PointerMode::Default);
}

TEST_F(AddAllFilesInFolderTest, AStartFolderThatIsGoneIsNotOffered) {
    settings.write("LastFolder", dir.filePath("gone"));
    dialogs.inputAnswers.enqueue("*");
    press();
    EXPECT_EQ(dialogs.browses[0].defaultAnswer, "");
}

TEST_F(AddAllFilesInFolderTest, RunningTwiceDoublesTheRows) {
    for (int i = 0; i < 2; ++i) {
        dialogs.inputAnswers.enqueue("png");
        dialogs.folderAnswers.enqueue(pics);
        press();
    }
    EXPECT_EQ(rows(), QStringList({"d.png", "d.png"}));
}

TEST_F(AddAllFilesInFolderTest, TheWalkRunsUnderTheHourglassAndARunEnteredFromAYieldFinishesFirst) {
    bool busySeen = false;
    bool nested = false;
    yield = [&] {
        busySeen = busySeen || pointer.IsBusy();
        if (!nested) {
            nested = true;  // the user presses the button again while the walk yields
            dialogs.inputAnswers.enqueue("png");
            dialogs.folderAnswers.enqueue(pics);
            press();
        }
        return true;
    };
    dialogs.inputAnswers.enqueue("jpg");
    dialogs.folderAnswers.enqueue(pics);
    press();
    EXPECT_TRUE(busySeen);
    EXPECT_EQ(pointer.mode(), PointerMode::Default);
    // The inner run's row comes in the middle, where the outer run yielded.
    EXPECT_TRUE(rows().contains("d.png"));
    EXPECT_EQ(rows().size(), 5);
    EXPECT_EQ(rows().filter("jpg", Qt::CaseInsensitive).size(), 4);
}

}  // namespace
