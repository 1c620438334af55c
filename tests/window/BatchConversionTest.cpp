#include "base/AppTitle.h"
#include "base/ErrorReport.h"
#include "base/TrapLabels.h"
#include "base/WindowPointer.h"
#include "engine/BatchPaths.h"
#include "engine/PictureLoader.h"
#include "engine/output/AtomicFile.h"
#include "engine/output/JpegWriter.h"
#include "imagelist/ImageList.h"
#include "support/FakeDialogs.h"
#include "support/ReadOnlyFolder.h"
#include "support/TestPictures.h"
#include "window/BatchConversion.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

namespace {

// The window as the batch sees it: settings to read, and a record of what it showed.
struct FakeBatchWindow : BatchWindow {
    FilterThresholds filter;
    int jpegQuality = 85;
    QString folder;
    QStringList shown;  // "value 33.33" and "text Processing: a.png", in order
    double value = 0;
    std::function<void(const QString&)> onText;  // after each text is shown

    FilterThresholds thresholds() const override { return filter; }
    int quality() const override { return jpegQuality; }
    QString outputFolder() const override { return folder; }
    void setProgressValue(double percent) override {
        value = percent;
        shown.append(QString("value %1").arg(percent, 0, 'f', 2));
    }
    void setProgressText(const QString& text) override {
        shown.append("text " + text);
        if (onText) {
            onText(text);
        }
    }
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
    EXPECT_EQ(
        texts(),
        QStringList({ErrorReportText("Cannot save the image. GDI+ Error:12 (" +
                                         outFile("blocked-grayscale.jpg") + ": Is a directory)",
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

// Many rows and many workers keep within the open files the process may have: the staged outputs
// waiting for their turns and the sources looked at ahead are bounded by it (batch_few_files runs
// this under a hard limit of 256).
TEST_F(BatchConversionTest, ManyRowsAndWorkersKeepWithinTheOpenFiles) {
    batch = std::make_unique<BatchConversion>(window, list, pointer, dialogs, 64);
    for (int i = 0; i < 300; ++i) {
        list.AddImagePath(picture(qPrintable(QString("%1.jpg").arg(i)), true));
    }
    runToDone();
    EXPECT_EQ(texts(), QStringList{"Done."});
    EXPECT_EQ(QDir(out()).entryList(QDir::Files).size(), 300);
}

TEST_F(BatchConversionTest, RowsAddedOrMovedDuringABatch) {
    list.AddImagePath(picture("dark.jpg", true));
    list.AddImagePath(picture("light.jpg", false));
    batch->PushButton2_Click();
    // Moved once the first pass has read its row: the first pass converts what it read, the
    // second what stands at its place when its turn comes, whatever the workers made ahead.
    list.SetRowText(1, dir.filePath("light.jpg"));
    list.SetRowText(2, dir.filePath("dark.jpg"));
    // Added: beyond this batch, but counted in the progress.
    list.AddImagePath(picture("late.jpg", true));
    runToDone();
    EXPECT_EQ(interior(outFile("dark-grayscale.jpg")), 30);
    EXPECT_FALSE(QFile::exists(outFile("light-grayscale.jpg")));
    EXPECT_FALSE(QFile::exists(outFile("late-grayscale.jpg")));
    EXPECT_EQ(window.shown.mid(0, 4).join(", ").toStdString(),
              "value 50.00, text Processing: dark.jpg, value 66.67, text Processing: dark.jpg");
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

// A picture of noise, different for each seed, so that every threshold and quality shows.
QString noisePicture(const QString& path, int width, int height, quint32 seed) {
    const BgrxImage p = MakePicture(width, height, [seed](int x, int y) {
        const quint32 h = (x * 2654435761u) ^ (y * 40503u) ^ (seed * 977u);
        return (h >> 7) & 0xFFFFFF;
    });
    if (path.endsWith(".png")) {
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) image.setPixel(x, y, ColourAt(p, x, y));
        }
        image.save(path);
    } else {
        WriteBytes(path, JpegBytesOf(p, 90));
    }
    return path;
}

// A report box runs an event loop while it is open: outcomes arrive, the workers go on, and
// later passes wait for their turn. Every good picture is written, each failure reported once
// in list order with no box inside another, the hourglass is back at every turn although a
// folder add ended while the first box was open, and nothing half done is left.
struct BoxCase {
    int openMilliseconds;
    int workers;
};

void PrintTo(const BoxCase& c, std::ostream* out) {
    *out << c.openMilliseconds << " ms, " << c.workers << " worker(s)";
}

class ReportBoxes : public BatchConversionTest, public ::testing::WithParamInterface<BoxCase> {};

TEST_P(ReportBoxes, TheBatchGoesOnWhileAReportIsOpen) {
    const BoxCase c = GetParam();
    batch = std::make_unique<BatchConversion>(window, list, pointer, dialogs, c.workers);
    dialogs.openMilliseconds = c.openMilliseconds;
    const QByteArray whole = JpegBytesOf(MakePicture(400, 300, [](int x, int) { return x; }));
    WriteBytes(dir.filePath("cut.jpg"), whole.left(whole.size() / 3));
    WriteBytes(dir.filePath("notes.txt"), "not a picture");
    QDir(out()).mkpath("blocked-grayscale.jpg/inside");
    const struct {
        QString path;
        int step;   // where its report says it failed; 0 when it is written
        bool dark;  // its output keeps the grey inside; a light one is white
    } rows[] = {
        {picture("big.jpg", true, 1500), 0, true}, {dir.filePath("cut.jpg"), 122, false},
        {dir.filePath("gone.jpg"), 122, false},    {picture("a.jpg", false), 0, false},
        {picture("b.jpg", true, 300), 0, true},    {dir.filePath("notes.txt"), 122, false},
        {picture("blocked.jpg", true), 152, true}, {picture("c.jpg", false, 600), 0, false},
        {picture("d.jpg", true), 0, true},         {picture("e.jpg", false, 200), 0, false},
        {picture("f.jpg", true), 0, true},         {picture("g.jpg", false, 900), 0, false},
        {picture("h.jpg", true), 0, true},         {picture("i.jpg", false), 0, false},
    };
    for (const auto& row : rows) list.AddImagePath(row.path);
    QList<PointerMode> atTurns;
    window.onText = [&](const QString& text) {
        if (text.startsWith("Processing: "))
            atTurns.append(pointer.mode());
    };
    dialogs.whileOpen = [&] { pointer.setMode(PointerMode::Default); };  // a folder add ends
    runToDone();

    QStringList written{"blocked-grayscale.jpg"};  // the folder in the way
    QStringList reports = dialogs.reports();
    for (const auto& row : rows) {
        const QString name = QFileInfo(row.path).completeBaseName() + "-grayscale";
        if (row.step == 0) {
            written.append(name + ".jpg");
            EXPECT_EQ(interior(out() + "/" + name + ".jpg"), row.dark ? 30 : 255)
                << qPrintable(name);
        } else if (!reports.isEmpty()) {
            const QString report = reports.takeFirst();
            EXPECT_TRUE(report.contains(row.step == 152 ? name : row.path) &&
                        report.contains(QString("at line %1\r").arg(row.step)))
                << qPrintable(row.path) << " not in " << qPrintable(report);
        }
    }
    EXPECT_TRUE(reports.isEmpty()) << reports.join(" | ").toStdString();
    EXPECT_EQ(dialogs.reports().size(), 4);
    EXPECT_EQ(texts().last(), "Done.");
    EXPECT_EQ(texts().count("Done."), 1);
    EXPECT_EQ(dialogs.mostOpenAtOnce, 1);
    EXPECT_EQ(batch->picturesMadeAgain(), 0);  // nothing changed: no work twice
    EXPECT_EQ(atTurns, QList<PointerMode>(std::size(rows), PointerMode::Hourglass));
    written.sort();
    EXPECT_EQ(
        QDir(out()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
        written);
}

INSTANTIATE_TEST_SUITE_P(, ReportBoxes,
                         ::testing::Values(BoxCase{0, 1}, BoxCase{0, 2}, BoxCase{30, 1},
                                           BoxCase{30, 2}, BoxCase{2000, 2}),
                         [](const auto& info) {
                             return "box" + std::to_string(info.param.openMilliseconds) + "ms_" +
                                    std::to_string(info.param.workers) + "workers";
                         });

TEST_F(BatchConversionTest, AFolderThatRefusesFilesIsReportedForEachPictureWithPathAndReason) {
    dialogs.openMilliseconds = 30;
    QStringList expected;
    for (const char* name : {"1", "2", "3", "4", "5"}) {
        list.AddImagePath(picture(qPrintable(QString(name) + ".jpg"), true));
        expected.append(ErrorReportText("Cannot save the image. GDI+ Error:10 (" + out() + "/" +
                                            name + "-grayscale.jpg: Permission denied)",
                                        TrapLabel::PushButton2_Click, 152));
    }
    expected.append("Done.");
    {
        const ReadOnlyFolder refusing(out());
        runToDone();
    }
    EXPECT_EQ(texts(), expected);
    EXPECT_TRUE(
        QDir(out()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

// The window closes while a report is open, and a new batch starts there and then: the first
// stops without another word or file, the second runs to its end.
TEST_F(BatchConversionTest, ABatchAbandonedInsideAReportLeavesTheNextWhole) {
    dialogs.openMilliseconds = 30;
    list.AddImagePath(dir.filePath("gone.jpg"));
    for (int i = 0; i < 10; ++i) {
        list.AddImagePath(picture(qPrintable(QString("%1.jpg").arg(i)), i % 2 == 0, 100 + 40 * i));
    }
    int boxes = 0;
    dialogs.whileOpen = [&] {
        if (boxes++ == 0) {
            batch->abandon();
            batch->PushButton2_Click();
        }
    };
    runToDone();
    ASSERT_EQ(texts().size(), 3) << texts().join(" | ").toStdString();
    EXPECT_TRUE(texts()[0].contains("gone.jpg") && texts()[1].contains("gone.jpg"));
    EXPECT_EQ(texts()[2], "Done.");
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(interior(outFile(qPrintable(QString("%1-grayscale.jpg").arg(i)))),
                  i % 2 == 0 ? 30 : 255);
    }
    EXPECT_EQ(leftovers(), QStringList());
}

// The slider never stops moving while the batch runs: each pass is made at most once more, with
// the values of its turn, and the batch ends.
TEST_F(BatchConversionTest, ASliderThatNeverStopsMovingDoesNotHoldTheBatchUp) {
    const QString rows[] = {
        noisePicture(dir.filePath("big.jpg"), 3000, 2000, 0),
        noisePicture(dir.filePath("s1.jpg"), 64, 48, 1),
        noisePicture(dir.filePath("s2.png"), 64, 48, 2),
        noisePicture(dir.filePath("s3.jpg"), 300, 200, 3),
        noisePicture(dir.filePath("s4.jpg"), 32, 32, 4),
    };
    for (const QString& row : rows) list.AddImagePath(row);
    std::vector<FilterThresholds> atTurns;
    window.onText = [&](const QString& text) {
        if (text.startsWith("Processing: "))
            atTurns.push_back(window.filter);
    };
    QTimer slider;
    QObject::connect(&slider, &QTimer::timeout, [&] {
        window.filter.black = static_cast<std::int16_t>(window.filter.black % 80 + 1);
        batch->settingsChanged();
    });
    slider.start(5);
    runToDone();
    slider.stop();
    EXPECT_LE(batch->picturesMadeAgain(), 2 * static_cast<int>(std::size(rows)));
    ASSERT_EQ(atTurns.size(), std::size(rows));
    for (std::size_t k = 0; k < std::size(rows); ++k) {
        QFile file(OutputPath(out(), rows[k]));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << k;
        const EncodedBytes bytes =
            EncodeGreyJpeg(ApplyBlackWhiteFilter(LoadSourcePicture(rows[k]), atTurns[k]), 85);
        EXPECT_TRUE(file.readAll() == QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<qsizetype>(bytes.size())))
            << k;
    }
}

// A slider moved between two batches: the second makes nothing twice.
TEST_F(BatchConversionTest, TheNextBatchBeginsAfresh) {
    list.AddImagePath(picture("a.jpg", true, 300));
    runToDone();
    window.filter.black = 20;
    batch->settingsChanged();
    dialogs.messages.clear();
    runToDone();
    EXPECT_EQ(batch->picturesMadeAgain(), 0);
    EXPECT_EQ(interior(outFile("a-grayscale.jpg")), 255);
}

// A save that failed before its pass's turn is tried again in it: the folder was made meanwhile.
TEST_F(BatchConversionTest, ASaveThatFailedBeforeItsTurnIsTriedInIt) {
    const QString later = dir.filePath("later");
    list.AddImagePath(dir.filePath("gone.jpg"));
    for (const char* name : {"1.jpg", "2.jpg", "3.jpg", "4.jpg"}) {
        list.AddImagePath(picture(name, true));
    }
    dialogs.openMilliseconds = 600;
    dialogs.whileOpen = [&] { QTimer::singleShot(300, [&] { QDir().mkpath(later); }); };
    batch->PushButton2_Click();
    window.folder = later;  // from the second pass on, in a folder not made yet
    batch->settingsChanged();
    runToDone();
    EXPECT_EQ(dialogs.reports().size(), 1);
    EXPECT_EQ(
        QDir(later).entryList(QDir::Files | QDir::Hidden),
        QStringList({"1-grayscale.jpg", "2-grayscale.jpg", "3-grayscale.jpg", "4-grayscale.jpg"}));
}

// The window closes while a report of a pass's own steps is open: the pass's later steps show
// nothing. The rows were cleared under the batch, so that its progress divides by zero.
TEST_F(BatchConversionTest, ClosedWhileATurnsReportIsOpenTheTurnShowsNothingMore) {
    for (const char* name : {"1.jpg", "2.jpg", "3.jpg"}) list.AddImagePath(picture(name, true));
    window.onText = [&](const QString&) {
        pointer.setMode(PointerMode::Default);
        list.ClearImageList();
    };
    dialogs.whileOpen = [&] { batch->abandon(); };
    batch->PushButton2_Click();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 500) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    ASSERT_EQ(texts().size(), 1);
    EXPECT_TRUE(texts()[0].startsWith("Division by zero\r\n")) << texts()[0].toStdString();
    EXPECT_EQ(leftovers(), QStringList());
}

// A change during a batch holds for every pass whose turn comes after it, whatever the workers
// had begun or finished: each file is compared byte for byte with its picture made with the
// values in force at its turn, in the folder in force then, and no other file is written.
struct Change {
    enum class When { Click, Turn, Box } when;  // right after the click; at row `at`'s turn;
    int at;                                     // while row `at`'s report is open
    enum class What { Black, Quality, Folder, Swap } what;
    int a = 0;  // the black threshold, the quality, the folder (1 or 2), or rows a and b
    int b = 0;
};

struct ChangeCase {
    const char* name;
    int workers;
    std::vector<Change> changes;
};

void PrintTo(const ChangeCase& c, std::ostream* out) {
    *out << c.name << ", " << c.workers << " worker(s)";
}

class ChangesDuringABatch : public BatchConversionTest,
                            public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(ChangesDuringABatch, HoldFromTheNextTurnOn) {
    using When = Change::When;
    using What = Change::What;
    const ChangeCase& c = GetParam();
    batch = std::make_unique<BatchConversion>(window, list, pointer, dialogs, c.workers);
    QDir(dir.path()).mkdir("out2");
    const QString folders[] = {out(), dir.filePath("out2")};
    // Of very different cost: the biggest begins first; row 4 fails and shows a report.
    const QString rows[] = {
        noisePicture(dir.filePath("big.jpg"), 1600, 1200, 0),
        noisePicture(dir.filePath("s1.jpg"), 64, 48, 1),
        noisePicture(dir.filePath("p2.png"), 500, 400, 2),
        noisePicture(dir.filePath("s3.jpg"), 64, 48, 3),
        dir.filePath("gone.jpg"),
        noisePicture(dir.filePath("m5.jpg"), 800, 600, 5),
        noisePicture(dir.filePath("s6.jpg"), 48, 48, 6),
        noisePicture(dir.filePath("s7.png"), 64, 64, 7),
        noisePicture(dir.filePath("m8.jpg"), 640, 480, 8),
        noisePicture(dir.filePath("s9.jpg"), 32, 32, 9),
    };
    const int n = static_cast<int>(std::size(rows));
    for (const QString& row : rows) list.AddImagePath(row);

    const auto apply = [&](When when, int at, auto&& change) {
        for (const Change& ch : c.changes) {
            if (ch.when == when && (when == When::Click || ch.at == at))
                change(ch);
        }
    };
    // What the window holds, and what it held at each turn.
    ConversionSettings values{{}, 85, out()};
    std::vector<QString> paths(std::begin(rows), std::end(rows));
    const auto change = [&](const Change& ch) {
        switch (ch.what) {
            case What::Black:
                values.thresholds.black = static_cast<std::int16_t>(ch.a);
                break;
            case What::Quality:
                values.quality = ch.a;
                break;
            case What::Folder:
                values.outputFolder = folders[ch.a - 1];
                break;
            case What::Swap:
                std::swap(paths[ch.a], paths[ch.b]);
                break;
        }
    };
    std::vector<std::pair<QString, ConversionSettings>> expected;
    // A pass takes the row and the values as they stand when its turn comes: a change made
    // while its name shows, or while its report is open, holds from the next pass on. The first
    // turn comes with the click.
    for (int k = 0; k < n; ++k) {
        expected.emplace_back(paths[k], values);
        if (k == 0)
            apply(When::Click, 0, change);
        apply(When::Turn, k, change);
        apply(When::Box, k, change);
    }

    // The same changes made to the window as the batch runs.
    const auto toWindow = [&](const Change& ch) {
        switch (ch.what) {
            case What::Black:
                window.filter.black = static_cast<std::int16_t>(ch.a);
                break;
            case What::Quality:
                window.jpegQuality = ch.a;
                break;
            case What::Folder:
                window.folder = folders[ch.a - 1];
                break;
            case What::Swap: {
                const QString a = list.RowText(ch.a + 1);
                list.SetRowText(ch.a + 1, list.RowText(ch.b + 1));
                list.SetRowText(ch.b + 1, a);
                break;
            }
        }
        batch->settingsChanged();
    };
    int turn = 0;
    window.onText = [&](const QString& text) {
        if (text.startsWith("Processing: "))
            apply(When::Turn, turn++, toWindow);
    };
    dialogs.whileOpen = [&] { apply(When::Box, turn - 1, toWindow); };
    QElapsedTimer clock;
    clock.start();
    batch->PushButton2_Click();
    apply(When::Click, 0, toWindow);
    runToDone();
    std::cout << c.name << ", " << c.workers << " worker(s): " << n << " rows, "
              << batch->picturesMadeAgain() << " made again, " << clock.elapsed() << " ms\n";

    EXPECT_EQ(dialogs.reports().size(), 1);
    int written = 0;
    for (int k = 0; k < n; ++k) {
        const auto& [path, made] = expected[static_cast<std::size_t>(k)];
        if (!QFile::exists(path))
            continue;
        ++written;
        const QString output = OutputPath(made.outputFolder, path);
        QFile file(output);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly))
            << "row " << k << ": no " << output.toStdString();
        const EncodedBytes bytes = EncodeGreyJpeg(
            ApplyBlackWhiteFilter(LoadSourcePicture(path), made.thresholds), made.quality);
        EXPECT_TRUE(file.readAll() == QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<qsizetype>(bytes.size())))
            << "row " << k << ": " << output.toStdString() << " not made with black "
            << made.thresholds.black << ", quality " << made.quality;
    }
    EXPECT_EQ(QDir(folders[0]).entryList(QDir::Files | QDir::Hidden).size() +
                  QDir(folders[1]).entryList(QDir::Files | QDir::Hidden).size(),
              written);
}

INSTANTIATE_TEST_SUITE_P(
    , ChangesDuringABatch, ::testing::ValuesIn([] {
        using When = Change::When;
        using What = Change::What;
        const std::vector<ChangeCase> cases = {
            {"quality_at_a_later_turn", 0, {{When::Turn, 3, What::Quality, 40}}},
            {"black_at_the_second_turn", 0, {{When::Turn, 1, What::Black, 20}}},
            {"folder_while_a_report_is_open", 0, {{When::Box, 4, What::Folder, 2}}},
            {"rows_traded_while_the_pass_is_made", 0, {{When::Turn, 1, What::Swap, 0, 1}}},
            {"rows_traded_ahead",
             0,
             {{When::Turn, 2, What::Swap, 6, 8}, {When::Turn, 7, What::Quality, 40}}},
            {"back_and_forth",
             0,
             {{When::Click, 0, What::Folder, 2},
              {When::Turn, 1, What::Black, 20},
              {When::Turn, 2, What::Black, 60},
              {When::Box, 4, What::Quality, 40},
              {When::Turn, 6, What::Swap, 7, 9},
              {When::Turn, 7, What::Folder, 1}}},
        };
        std::vector<ChangeCase> both;
        for (int workers : {1, 2}) {
            for (ChangeCase c : cases) {
                c.workers = workers;
                both.push_back(c);
            }
        }
        return both;
    }()),
    [](const auto& info) {
        return std::string(info.param.name) + "_" + std::to_string(info.param.workers) + "workers";
    });

}  // namespace
