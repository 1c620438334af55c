#include "base/AppTitle.h"
#include "base/ErrorReport.h"
#include "base/RuntimeError.h"
#include "base/TrapLabels.h"
#include "base/WindowPointer.h"
#include "imagelist/AddFilesByDialog.h"
#include "imagelist/ImageList.h"
#include "support/ByteViews.h"
#include "support/FakeDialogs.h"

#include <gtest/gtest.h>

namespace {

class AddFilesByDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { SetAppTitle(); }

    FakeDialogs dialogs;
    WindowPointer pointer;
    ImageList list{pointer};

    QStringList rows() const {
        QStringList texts;
        for (int i = 1; i <= list.RowCount(); ++i) {
            texts.append(list.RowText(i));
        }
        return texts;
    }
};

TEST_F(AddFilesByDialogTest, AddsWhatTheDialogAnswers) {
    const struct {
        QString answer;
        QStringList rows;
    } cases[] = {
        {"", {}},
        {"/pics/a.jpg", {"/pics/a.jpg"}},
        {"/pics//odd.jpg", {"/pics//odd.jpg"}},  // one file: added as given, no clean-up
        {"/no/such/file.jpg", {"/no/such/file.jpg"}},
        {WithNuls("/pics|a.jpg|b.png|c.gif"), {"/pics/a.jpg", "/pics/b.png", "/pics/c.gif"}},
        {WithNuls("/|x.jpg|y.jpg"), {"/x.jpg", "/y.jpg"}},  // the root: no doubled separator
        {WithNuls("//server/share/pics|a.jpg|b.jpg"),
         {"//server/share/pics/a.jpg", "//server/share/pics/b.jpg"}},
        {WithNuls("/pics/|a.jpg|b.jpg"), {"/pics/a.jpg", "/pics/b.jpg"}},
        {WithNuls("/pics|b.jpg|a.jpg|b.jpg"), {"/pics/b.jpg", "/pics/a.jpg", "/pics/b.jpg"}},
    };
    for (const auto& c : cases) {
        list.ClearImageList();
        dialogs.fileAnswers.enqueue(c.answer);
        PushButton1_Click(dialogs, list);
        EXPECT_EQ(rows(), c.rows) << c.answer.toStdString();
    }
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(AddFilesByDialogTest, AFileAlreadyListedIsAddedAgain) {
    list.AddImagePath("/pics/a.jpg");
    dialogs.fileAnswers.enqueue("/pics/a.jpg");
    PushButton1_Click(dialogs, list);
    EXPECT_EQ(rows(), QStringList({"/pics/a.jpg", "/pics/a.jpg"}));
}

TEST_F(AddFilesByDialogTest, SetsUpTheDialog) {
    PushButton1_Click(dialogs, list);
    ASSERT_EQ(dialogs.fileRequests.size(), 1);
    const Dialogs::OpenFilesRequest& r = dialogs.fileRequests[0];
    EXPECT_TRUE(r.fileName.isEmpty());
    EXPECT_TRUE(r.multiSelect);
    EXPECT_EQ(r.title, "Add File(s) - Hold Ctrl or Shift to select multiple files");
    EXPECT_EQ(r.filters.join('|'),
              "All Pictures (*.bmp;*.jpg;*.gif;*.png;*.ico;*.wmf)|*.bmp;*.jpg;*.gif;*.png;*.ico;"
              "*.wmf|Camera and Phone Pictures (*.heic;*.heif;*.avif;*.jxl;*.dng;*.cr2;*.cr3;"
              "*.nef;*.arw;*.raf;*.orf;*.rw2)|*.heic;*.heif;*.avif;*.jxl;*.dng;*.cr2;*.cr3;*.nef;"
              "*.arw;*.raf;*.orf;*.rw2|"
              "All Files (*.*)|*.*");
}

TEST_F(AddFilesByDialogTest, TooManyFilesShowsItsMessageAndAddsNothing) {
    dialogs.beforeFileAnswer = [] { throw RuntimeError(20476, "buffer too small"); };
    PushButton1_Click(dialogs, list);
    EXPECT_EQ(list.RowCount(), 0);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].text,
              "You've selected too many files to add.\r\rPlease try adding via the \"Add All\" "
              "button.");
    EXPECT_EQ(dialogs.messages[0].style, Dialogs::Style::Plain);
    EXPECT_EQ(dialogs.messages[0].title, "Tonvaler");
}

TEST_F(AddFilesByDialogTest, AnyOtherDialogFailureIsReportedAndTheHandlerGoesOn) {
    dialogs.beforeFileAnswer = [] { throw RuntimeError(5, "dialog broke"); };
    PushButton1_Click(dialogs, list);
    EXPECT_EQ(dialogs.reports(),
              QStringList{ErrorReportText("dialog broke", TrapLabel::PushButton1_Click, 112)});
    EXPECT_EQ(list.RowCount(), 0);
}

}  // namespace
