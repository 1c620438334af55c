#include "base/AppTitle.h"
#include "base/ErrorReport.h"
#include "base/TrapLabels.h"
#include "base/WindowPointer.h"
#include "engine/AtomicFile.h"
#include "engine/PictureLoader.h"
#include "imagelist/ImageList.h"
#include "support/FakeDialogs.h"
#include "support/TestPictures.h"
#include "window/BatchConversion.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

// The window as the batch sees it: settings to read, and a record of what it showed.
struct FakeBatchWindow : BatchWindow {
    FilterThresholds filter;
    int jpegQuality = 85;
    QString folder;
    QStringList shown;  // "value 33.33" and "text Processing: a.png", in order
    double value = 0;

    FilterThresholds thresholds() const override { return filter; }
    int quality() const override { return jpegQuality; }
    QString outputFolder() const override { return folder; }
    void setProgressValue(double percent) override {
        value = percent;
        shown.append(QString("value %1").arg(percent, 0, 'f', 2));
    }
    void setProgressText(const QString& text) override { shown.append("text " + text); }
};

class BatchConversionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetAppTitle();
        QDir(dir.path()).mkdir("out");
        window.folder = out();
    }

    QTemporaryDir dir;
    FakeDialogs dialogs;
    WindowPointer pointer;
    ImageList list{pointer};
    FakeBatchWindow window;
    std::unique_ptr<BatchConversion> batch =
        std::make_unique<BatchConversion>(window, list, pointer, dialogs, 2);

    QString out() const { return dir.filePath("out"); }
    QString outFile(const char* name) const { return out() + "/" + name; }

    // A uniform picture: dark ones keep their grey (30), light ones turn white inside.
    QString picture(const char* name, bool dark, int side = 24) {
        const BgrxImage p =
            MakePicture(side, side, [dark](int, int) { return dark ? 0x1E1E1E : 0xE0E0E0; });
        const QString path = dir.filePath(name);
        WriteBytes(path, JpegBytesOf(p, 100));
        return path;
    }

    bool done() const {
        return std::any_of(dialogs.messages.begin(), dialogs.messages.end(),
                           [](const FakeDialogs::Shown& m) { return m.text == "Done."; });
    }
    void runToDone() {
        batch->PushButton2_Click();
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 30000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::usleep(200);
        }
        ASSERT_TRUE(done()) << "no \"Done.\" within 30 s";
    }
    // The grey level inside an output file.
    int interior(const QString& path) {
        const BgrxImage p = LoadPicture(path);
        return p.row(p.height() / 2)[4 * (p.width() / 2)];
    }
    QStringList leftovers() const {
        return QDir(out()).entryList({QString("*") + kTemporarySuffix}, QDir::Files | QDir::Hidden);
    }
    QStringList texts() const {
        QStringList t;
        for (const auto& m : dialogs.messages) t.append(m.text);
        return t;
    }
};

TEST_F(BatchConversionTest, AnEmptyListSaysSoAndChangesNothing) {
    pointer.setMode(PointerMode::Custom);
    batch->PushButton2_Click();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].text, "No files added.");
    EXPECT_EQ(dialogs.messages[0].style, Dialogs::Style::Plain);
    EXPECT_EQ(dialogs.messages[0].title, "Tonvaler");
    EXPECT_FALSE(batch->ConversionRunning());
    EXPECT_EQ(pointer.mode(), PointerMode::Custom);
    EXPECT_TRUE(window.shown.isEmpty());
}

TEST_F(BatchConversionTest, AMissingOutputFolderConvertsNothing) {
    QFile(dir.filePath("a-file")).open(QIODevice::WriteOnly);
    list.AddImagePath(picture("a.jpg", true));
    for (const QString& folder : {QString(), dir.filePath("a-file"), dir.filePath("missing")}) {
        dialogs.messages.clear();
        window.folder = folder;
        batch->PushButton2_Click();
        EXPECT_EQ(texts(), QStringList{"Folder does not exist. Please select another folder."})
            << folder.toStdString();
        EXPECT_FALSE(batch->ConversionRunning());
    }
    EXPECT_EQ(pointer.mode(), PointerMode::Default);
    EXPECT_TRUE(window.shown.isEmpty());
    EXPECT_TRUE(QDir(out()).isEmpty());
}

TEST_F(BatchConversionTest, OneRowShowsItsProgressThenDone) {
    list.AddImagePath(picture("a.jpg", false));
    batch->PushButton2_Click();
    EXPECT_EQ(pointer.mode(), PointerMode::Hourglass);
    EXPECT_TRUE(batch->ConversionRunning());
    runToDone();
    EXPECT_EQ(window.shown, QStringList({"value 100.00", "text Processing: a.jpg", "value 0.00",
                                         "text Progress Bar"}));
    EXPECT_EQ(texts(), QStringList{"Done."});
    EXPECT_EQ(pointer.mode(), PointerMode::Default);
    EXPECT_FALSE(batch->ConversionRunning());
    EXPECT_EQ(interior(outFile("a-grayscale.jpg")), 255);
}

TEST_F(BatchConversionTest, ThreeRowsShowAThirdEach) {
    for (const char* name : {"1.jpg", "2.jpg", "3.jpg"}) list.AddImagePath(picture(name, true));
    runToDone();
    EXPECT_EQ(window.shown,
              QStringList({"value 33.33", "text Processing: 1.jpg", "value 66.67",
                           "text Processing: 2.jpg", "value 100.00", "text Processing: 3.jpg",
                           "value 0.00", "text Progress Bar"}));
}

TEST_F(BatchConversionTest, OutputNamesFollowTheSourceNames) {
    list.AddImagePath(picture("my.holiday.photo.JPG", true));
    list.AddImagePath(picture("README", true));
    list.AddImagePath(picture(".hidden.jpg", true));
    runToDone();
    EXPECT_EQ(texts(), QStringList{"Done."});
    EXPECT_EQ(QDir(out()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              QStringList({".hidden-grayscale.jpg", "README-grayscale.jpg",
                           "my.holiday.photo-grayscale.jpg"}));
}

TEST_F(BatchConversionTest, APictureThatCannotBeLoadedIsReportedInTurnAndWritesNothing) {
    WriteBytes(dir.filePath("words.jpg"), "not a picture at all");
    WriteBytes(outFile("words-grayscale.jpg"), "an older output");
    list.AddImagePath(dir.filePath("missing.jpg"));
    list.AddImagePath(picture("good.jpg", true));
    list.AddImagePath(dir.filePath("words.jpg"));
    list.AddImagePath(picture("good2.jpg", false));
    runToDone();
    const QStringList shown = texts();
    ASSERT_EQ(shown.size(), 3) << shown.join(" | ").toStdString();
    EXPECT_EQ(shown[0], ErrorReportText("Cannot load " + dir.filePath("missing.jpg") +
                                            ": No such file or directory",
                                        TrapLabel::PushButton2_Click, 122));
    EXPECT_TRUE(shown[1].startsWith("Cannot load " + dir.filePath("words.jpg") +
                                    ": the file is not a picture"))
        << shown[1].toStdString();
    EXPECT_TRUE(shown[1].contains("at line 122\r\r"));
    EXPECT_EQ(shown[2], "Done.");
    EXPECT_FALSE(QFile::exists(outFile("missing-grayscale.jpg")));
    QFile older(outFile("words-grayscale.jpg"));
    older.open(QIODevice::ReadOnly);
    EXPECT_EQ(older.readAll(), QByteArray("an older output"));
    EXPECT_EQ(interior(outFile("good-grayscale.jpg")), 30);
    EXPECT_EQ(interior(outFile("good2-grayscale.jpg")), 255);
}

TEST_F(BatchConversionTest, AFailedSaveIsReportedAndLeavesWhatWasThere) {
    QDir(out()).mkpath("blocked-grayscale.jpg/inside");
    list.AddImagePath(picture("blocked.jpg", true));
    list.AddImagePath(picture("fine.jpg", true));
    runToDone();
    EXPECT_EQ(texts(), QStringList({ErrorReportText("Cannot save the image. GDI+ Error:12",
                                                    TrapLabel::PushButton2_Click, 152),
                                    "Done."}));
    EXPECT_TRUE(QFileInfo(outFile("blocked-grayscale.jpg/inside")).isDir());
    EXPECT_TRUE(QFile::exists(outFile("fine-grayscale.jpg")));
    EXPECT_EQ(leftovers(), QStringList());
}

TEST_F(BatchConversionTest, WhereTwoRowsShareAnOutputNameTheLaterWins) {
    // Both orders, so that neither can win by finishing first.
    for (bool darkLast : {true, false}) {
        list.ClearImageList();
        dialogs.messages.clear();
        list.AddImagePath(picture("same.jpg", !darkLast, 600));
        list.AddImagePath(picture("same.jpeg", darkLast, 24));
        runToDone();
        EXPECT_EQ(interior(outFile("same-grayscale.jpg")), darkLast ? 30 : 255);
    }
}

TEST_F(BatchConversionTest, ASecondClickDuringABatchDoesNothing) {
    for (int i = 0; i < 4; ++i)
        list.AddImagePath(picture(qPrintable(QString("%1.jpg").arg(i)), true));
    batch->PushButton2_Click();
    batch->PushButton2_Click();
    runToDone();
    EXPECT_EQ(texts(), QStringList{"Done."});
    EXPECT_EQ(QDir(out()).entryList(QDir::Files).size(), 4);
}

TEST_F(BatchConversionTest, RowsAddedOrMovedDuringABatch) {
    list.AddImagePath(picture("dark.jpg", true));
    list.AddImagePath(picture("light.jpg", false));
    batch->PushButton2_Click();
    // Moved: the rows trade places; each picture keeps its own name.
    list.SetRowText(1, dir.filePath("light.jpg"));
    list.SetRowText(2, dir.filePath("dark.jpg"));
    // Added: beyond this batch, but counted in the progress.
    list.AddImagePath(picture("late.jpg", true));
    runToDone();
    EXPECT_EQ(interior(outFile("dark-grayscale.jpg")), 30);
    EXPECT_EQ(interior(outFile("light-grayscale.jpg")), 255);
    EXPECT_FALSE(QFile::exists(outFile("late-grayscale.jpg")));
    EXPECT_EQ(window.shown.mid(0, 3).join(", ").toStdString(),
              "value 50.00, text Processing: dark.jpg, value 66.67");
}

TEST_F(BatchConversionTest, AbandoningMidBatchLeavesOnlyWholeFiles) {
    batch = std::make_unique<BatchConversion>(window, list, pointer, dialogs, 1);
    const QString big = picture("big.jpg", true, 1500);
    for (int i = 0; i < 12; ++i) {
        const QString copy = dir.filePath(QString("copy%1.jpg").arg(i));
        QFile::copy(big, copy);
        list.AddImagePath(copy);
    }
    batch->PushButton2_Click();
    QElapsedTimer clock;
    clock.start();
    while (QDir(out()).entryList(QDir::Files).isEmpty() && clock.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    batch->abandon();
    QCoreApplication::processEvents();
    batch.reset();  // and the engine with it
    QCoreApplication::processEvents();
    const QStringList written = QDir(out()).entryList(QDir::Files);
    EXPECT_GE(written.size(), 1);
    EXPECT_LT(written.size(), 12);
    EXPECT_EQ(leftovers(), QStringList());
    for (const QString& name : written) {
        EXPECT_EQ(LoadPicture(out() + "/" + name).width(), 1500) << name.toStdString();
    }
    EXPECT_FALSE(done());
}

}  // namespace
