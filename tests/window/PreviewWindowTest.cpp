#include "engine/BatchPaths.h"
#include "engine/ConversionEngine.h"
#include "engine/OrderedBatch.h"
#include "engine/output/JpegWriter.h"
#include "filter/BlackWhiteFilter.h"
#include "imagelist/ImageList.h"
#include "support/PathsBatchClient.h"
#include "support/TestPictures.h"
#include "support/WindowFixture.h"
#include "window/AverageDown.h"
#include "window/ImageListView.h"
#include "window/PreviewCanvas.h"
#include "window/PreviewWindow.h"
#include "window/PreviewWork.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

// The preview window, opened from the image list of the real window.
class PreviewWindowTest : public QObject {
    Q_OBJECT

    // What the batch writes for `source` with those values, read back; its size in `bytes`.
    static QImage batchResult(const QString& source, FilterThresholds thresholds, int quality,
                              const QString& folder, qint64* bytes = nullptr) {
        PictureJob job;
        job.sourcePath = source;
        const std::atomic<bool> abandoned{false};
        MemoryBudget budget(std::uint64_t(1) << 30);
        PictureOutcome outcome =
            ConvertPicture(job, {thresholds, quality, folder}, abandoned, budget);
        if (outcome.failed()) {
            return {};
        }
        CommitOutputFile(*outcome.file);
        const QString written = OutputPath(folder, source);
        if (bytes != nullptr) {
            *bytes = QFileInfo(written).size();
        }
        return QImage(written).convertToFormat(QImage::Format_Grayscale8);
    }

    static QImage ToQImage(const BgrxImage& p) {
        return QImage(p.data(), p.width(), p.height(), p.stride(), QImage::Format_RGB32).copy();
    }

    static bool samePixels(const GreyImage* shown, const QImage& expected) {
        if (shown == nullptr || shown->width() != expected.width() ||
            shown->height() != expected.height()) {
            return false;
        }
        for (int y = 0; y < shown->height(); ++y) {
            if (std::memcmp(shown->row(y), expected.constScanLine(y), shown->width()) != 0) {
                return false;
            }
        }
        return true;
    }

  private slots:
    // A JPEG, a PNG and an Exif-turned JPEG show what the batch writes for them; the preview
    // follows the selection and the sliders, shows a reason for a broken file, and changes
    // nothing of the window's.
    void showsWhatTheBatchWritesAndFollowsTheWindow() {
        WindowFixture f;
        Form1& w = f.open(1);
        const auto pattern = [](int x, int y) {
            return static_cast<quint32>((x * 37) ^ (y * 91) ^ ((x / 7 + y / 5) % 3 ? 0x404040 : 0));
        };
        const QString jpeg = f.dir.filePath("a.jpg");
        const QString png = f.dir.filePath("b.png");
        const QString turned = f.dir.filePath("c.jpg");
        const QString broken = f.dir.filePath("d.jpg");
        WriteBytes(jpeg, JpegBytesOf(MakePicture(300, 200, pattern), 90));
        QVERIFY(ToQImage(MakePicture(240, 160, pattern)).save(png));
        WriteBytes(turned, JpegBytesOf(MakePicture(200, 120, pattern), 90, 6));
        const QByteArray whole = JpegBytesOf(MakePicture(200, 120, pattern), 90);
        WriteBytes(broken, whole.left(whole.size() / 2));
        for (const QString& path : {jpeg, png, turned, broken}) {
            w.imageList().AddImagePath(path);
        }
        w.imageList().SelectRow(1);
        QFile store(f.dir.filePath("Kestrova.ini"));
        const QByteArray storedBefore = store.open(QIODevice::ReadOnly) ? store.readAll() : "";
        store.close();
        const QString out = f.dir.filePath("out");
        QDir().mkpath(out);

        w.show();
        QTest::keyClick(w.ListView1, Qt::Key_Space);
        QVERIFY(w.preview() != nullptr && w.preview()->isVisible());
        PreviewWindow& preview = *w.preview();
        const FilterThresholds first{60, 180, 50};
        qint64 bytes = 0;
        QTRY_VERIFY(samePixels(preview.result(), batchResult(jpeg, first, 85, out, &bytes)));
        QVERIFY(std::abs(qint64(preview.fileBytes()) - bytes) <= bytes / 100 + 16);

        for (int row : {2, 3}) {
            w.imageList().SelectRow(row);
            const QString path = w.imageList().RowText(row);
            QTRY_VERIFY2(samePixels(preview.result(), batchResult(path, first, 85, out)),
                         qPrintable(path));
        }
        QCOMPARE(preview.result()->width(), 120);  // turned upright: 120 wide, 200 high
        // Opening and following changed nothing of the window's.
        QCOMPARE(w.imageList().RowCount(), 4);
        QCOMPARE(w.imageList().SelectedPosition(), 3);
        QVERIFY(!w.batch().ConversionRunning());
        QCOMPARE(w.pointer().mode(), PointerMode::Default);
        QVERIFY(store.open(QIODevice::ReadOnly));
        QCOMPARE(store.readAll(), storedBefore);

        w.Slider2->setValue(20);  // black
        w.Slider4->setValue(10);  // gray
        // Made from the last result, the changed blocks alone; the file's size follows.
        QTRY_VERIFY(
            samePixels(preview.result(), batchResult(turned, {20, 180, 10}, 85, out, &bytes)));
        QTRY_VERIFY(std::abs(qint64(preview.fileBytes()) - bytes) <= bytes / 100 + 16);
        for (const int quality : {1, 40, 100}) {
            w.Slider1->setValue(quality);
            QTRY_VERIFY2(
                samePixels(preview.result(), batchResult(turned, {20, 180, 10}, quality, out)),
                qPrintable(QString::number(quality)));
        }

        w.imageList().SelectRow(4);
        QTRY_VERIFY(preview.message().startsWith(QStringLiteral("Cannot load ") + broken));
        QVERIFY(preview.result() == nullptr);
        QVERIFY(f.dialogs.messages.isEmpty());
    }

    // The work delivers a quick look, the original, the part on screen and the whole, in that
    // order; the part holds exactly the written file's pixels there.
    void thePartOnScreenComesFirstAndExact() {
        QTemporaryDir dir;
        const QString path = dir.filePath("big.jpg");
        WriteBytes(path, JpegBytesOf(MakePicture(2400, 1600,
                                                 [](int x, int y) {
                                                     return static_cast<quint32>((x * 13) ^
                                                                                 (y * 7) ^ (x * y));
                                                 }),
                                     90));
        PreviewWork work;
        std::vector<PreviewFrame> frames;
        QObject::connect(&work, &PreviewWork::made,
                         [&](const PreviewFrame& frame) { frames.push_back(frame); });
        PreviewRequest request;
        request.path = path;
        request.thresholds = {30, 120, 40};
        request.quality = 20;
        request.part = QRect(1003, 405, 640, 480);
        work.request(request);
        QTRY_VERIFY(!frames.empty() && frames.back().kind == PreviewFrame::Kind::Whole);
        QCOMPARE(frames.size(), std::size_t(4));
        QVERIFY(frames[0].kind == PreviewFrame::Kind::QuickLook);
        QCOMPARE(frames[0].size, QSize(2400, 1600));
        QVERIFY(frames[1].kind == PreviewFrame::Kind::Original);
        QVERIFY(frames[2].kind == PreviewFrame::Kind::Part);
        QCOMPARE(frames[2].part, QRect(1000, 400, 648, 488));
        const QImage written = batchResult(path, request.thresholds, 20, dir.path());
        QVERIFY(samePixels(frames[3].result.get(), written));
        const GreyImage& part = *frames[2].result;
        for (int y = 0; y < part.height(); ++y) {
            QVERIFY(std::memcmp(part.row(y), written.constScanLine(400 + y) + 1000, 648) == 0);
        }
    }

    // Each new value, the Black Filter's extremes among them, given once the work has rested
    // (when it makes the planes a Black Filter step selects from): exactly the filter's picture.
    void everyValueGivesTheFiltersOwnPicture() {
        QTemporaryDir dir;
        const QString path = dir.filePath("steps.png");
        // Every grey level, and edges of every strength.
        const BgrxImage picture = MakePicture(301, 203, [](int x, int y) {
            const quint32 level = static_cast<quint32>((x + 3 * y) % 256);
            return (x / 9 + y / 13) % 3 == 0 ? level * 0x010101u
                                             : static_cast<quint32>((x * 37) ^ (y * 91));
        });
        QVERIFY(ToQImage(picture).save(path));
        PreviewWork work;
        std::shared_ptr<const GreyImage> shown;
        FilterThresholds shownFor;
        QObject::connect(&work, &PreviewWork::made, [&](const PreviewFrame& frame) {
            if (frame.kind == PreviewFrame::Kind::Whole) {
                shown = frame.result;
                shownFor = frame.request.thresholds;
            }
        });
        const FilterThresholds steps[] = {
            {60, 180, 50}, {61, 180, 50}, {0, 180, 50},  {255, 180, 50}, {256, 180, 50},
            {-3, 180, 50}, {60, 180, 10}, {60, 120, 10}, {59, 120, 10},  {60, 180, 50},
        };
        for (const FilterThresholds& values : steps) {
            PreviewRequest request;
            request.path = path;
            request.thresholds = values;
            request.lossless = true;  // the filter's own pixels are the file's
            work.request(request);
            QTRY_VERIFY(shown && shownFor == values);
            const GreyImage expected = ApplyBlackWhiteFilter(picture, values);
            int wrong = 0;
            for (int y = 0; y < expected.height(); ++y) {
                for (int x = 0; x < expected.width(); ++x) {
                    wrong += shown->row(y)[x] != expected.row(y)[x];
                }
            }
            QVERIFY2(wrong == 0, qPrintable(QStringLiteral("%1 pixels wrong at %2, %3, %4")
                                                .arg(wrong)
                                                .arg(values.black)
                                                .arg(values.gradient)
                                                .arg(values.gray)));
            QTest::qWait(400);  // the work rests, and makes the planes
        }
    }

    // Averaged down, grey and in colour, at every factor the fitted preview takes, over sizes
    // that leave narrower blocks at the right and bottom: each block's mean, rounded half up.
    void averagingDownGivesEachBlocksRoundedMean() {
        for (const QImage::Format format : {QImage::Format_Grayscale8, QImage::Format_RGB32}) {
            const int channels = format == QImage::Format_Grayscale8 ? 1 : 4;
            // The tall one is nearly white: a column of more than 257 rows overflows 16 bits.
            for (const QSize size : {QSize(37, 23), QSize(64, 64), QSize(5, 3), QSize(301, 530)}) {
                const bool tall = size.height() > 257;
                QImage picture(size, format);
                for (int y = 0; y < size.height(); ++y) {
                    for (int i = 0; i < size.width() * channels; ++i) {
                        // Extremes and ties: means that end in exactly one half come often.
                        picture.scanLine(y)[i] =
                            static_cast<uchar>(tall ? (y % 97 == 0 ? i % 256 : 255)
                                               : (i * 7 + y * 3) % 5 == 0 ? 255
                                                                          : (i + y) % 2 * 255);
                    }
                }
                for (const int factor : {2, 3, 4, 5, 6, 7, 8, 9, 258, 300}) {
                    if (factor > size.height()) {
                        continue;
                    }
                    const QImage reduced = AverageDown(picture, factor);
                    QCOMPARE(reduced.size(), QSize((size.width() + factor - 1) / factor,
                                                   (size.height() + factor - 1) / factor));
                    for (int y = 0; y < reduced.height(); ++y) {
                        for (int i = 0; i < reduced.width() * channels; ++i) {
                            const int x = i / channels, c = i % channels;
                            int sum = 0, count = 0;
                            for (int py = y * factor;
                                 py < std::min(size.height(), (y + 1) * factor); ++py) {
                                for (int px = x * factor;
                                     px < std::min(size.width(), (x + 1) * factor); ++px) {
                                    sum += picture.constScanLine(py)[px * channels + c];
                                    ++count;
                                }
                            }
                            QCOMPARE(int(reduced.constScanLine(y)[i]),
                                     (2 * sum + count) / (2 * count));
                        }
                    }
                }
            }
        }
    }

    // A big PNG, which has no quick look, is shown as its rows are decoded: reduced as a quick
    // look is, each look showing more rows, every row it shows as the whole picture has it.
    void aPngIsShownAsItsRowsCome() {
        QTemporaryDir dir;
        const QString path = dir.filePath("big.png");
        const BgrxImage made = MakePicture(3000, 2000, [](int x, int y) {
            return static_cast<quint32>((x * 2654435761u) ^ (y * 40503u) ^ (x * y));
        });
        QVERIFY(ToQImage(made).save(path, "PNG"));
        PreviewWork work;
        std::vector<PreviewFrame> frames;
        QObject::connect(&work, &PreviewWork::made,
                         [&](const PreviewFrame& frame) { frames.push_back(frame); });
        PreviewRequest request;
        request.path = path;
        work.request(request);
        QTRY_VERIFY_WITH_TIMEOUT(!frames.empty() && frames.back().kind == PreviewFrame::Kind::Whole,
                                 60000);
        const auto original = std::find_if(frames.begin(), frames.end(), [](const auto& f) {
            return f.kind == PreviewFrame::Kind::Original;
        });
        QVERIFY(original != frames.end() && original != frames.begin());
        const QImage reduced = AverageDown(ToQImage(*original->original), 4);
        int before = 0;
        for (auto f = frames.begin(); f != original; ++f) {
            QVERIFY(f->kind == PreviewFrame::Kind::QuickLook);
            QCOMPARE(f->size, QSize(3000, 2000));
            QCOMPARE(f->original->width(), 750);
            QVERIFY(f->lookRows > before && f->lookRows < 500);
            before = f->lookRows;
            for (int y = 0; y < f->lookRows; ++y) {
                QVERIFY(std::memcmp(f->original->row(y), reduced.constScanLine(y), 4 * 750) == 0);
            }
        }
    }

    // Its pictures take their share of the batch's budget; when a picture of the batch needs
    // that share, the work gives it back at once and waits in line for it again.
    void givesItsMemoryToTheBatchAndComesBack() {
        QTemporaryDir dir;
        const QString path = dir.filePath("a.jpg");
        WriteBytes(
            path, JpegBytesOf(MakePicture(400, 300,
                                          [](int x, int y) { return static_cast<quint32>(x * y); }),
                              90));
        const std::uint64_t total = 2 << 20;  // the preview takes about 0.8 MB of it
        const auto budget = std::make_shared<MemoryBudget>(total);
        PreviewWork work(budget);
        std::vector<PreviewFrame::Kind> kinds;
        QObject::connect(&work, &PreviewWork::made,
                         [&](const PreviewFrame& frame) { kinds.push_back(frame.kind); });
        PreviewRequest request;
        request.path = path;
        work.request(request);
        QTRY_VERIFY(!kinds.empty() && kinds.back() == PreviewFrame::Kind::Whole);
        std::atomic<bool> started{false}, done{false};
        std::thread job([&] {
            const MemoryBudget::Share share = budget->take(total * 3 / 4);
            started = true;
            while (!done) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        QTRY_VERIFY(started.load());
        // The share is free before the frame saying so is posted, so the job may start first.
        QTRY_VERIFY(std::find(kinds.begin(), kinds.end(), PreviewFrame::Kind::LetGo) !=
                    kinds.end());
        QTest::qWait(50);
        QCOMPARE(kinds.back(), PreviewFrame::Kind::LetGo);  // waits while the job holds it
        done = true;
        job.join();
        QTRY_VERIFY(kinds.back() == PreviewFrame::Kind::Whole);
        QVERIFY(budget->mostHeld() <= total);
    }

    // Given back to a batch of one worker whose pictures need its share, it stays away until the
    // batch ends, not coming back in the gap between two pictures (where no share is held) only
    // to be recalled by the next.
    void staysAwayUntilTheBatchEnds() {
        QTemporaryDir dir;
        const auto picture = MakePicture(1200, 900, [](int x, int y) {
            return static_cast<quint32>(x * 2654435761u ^ y * 40503u) & 0xFFFFFF;
        });
        QStringList sources;
        for (int i = 0; i < 8; ++i) {
            sources.append(dir.filePath(QString("%1.png").arg(i)));
            QVERIFY(ToQImage(picture).save(sources.back()));
        }
        PathsBatchClient client(sources, dir.path());
        OrderedBatch batch(client, 1, std::uint64_t(12) << 20);
        PreviewWork work(batch.sharedBudget());
        std::vector<PreviewFrame::Kind> kinds;
        QObject::connect(&work, &PreviewWork::made,
                         [&](const PreviewFrame& frame) { kinds.push_back(frame.kind); });
        PreviewRequest request;
        request.path = sources[0];
        work.request(request);
        QTRY_VERIFY_WITH_TIMEOUT(!kinds.empty() && kinds.back() == PreviewFrame::Kind::Whole,
                                 30000);
        kinds.clear();
        batch.start(int(sources.size()));
        QTRY_VERIFY_WITH_TIMEOUT(client.done, 30000);
        QCOMPARE(client.failed, 0);
        const auto count = [&](PreviewFrame::Kind kind) {
            return std::count(kinds.begin(), kinds.end(), kind);
        };
        QCOMPARE(count(PreviewFrame::Kind::LetGo), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!kinds.empty() && kinds.back() == PreviewFrame::Kind::Whole,
                                 30000);
    }

    // Fit by default; 1 shows 100 % with scroll bars and drag pans, every time (also after
    // fitting again); the wheel zooms in steps around the pointer from the fitted size to
    // 400 %; O held shows the original, S splits across a divider that drags; Escape closes,
    // and closed, it holds no picture.
    void zoomPanSplitAndClose() {
        WindowFixture f;
        Form1& w = f.open(1);
        const QString path = f.dir.filePath("big.png");
        QVERIFY(ToQImage(MakePicture(2400, 1600, [](int x, int) {
                    return x % 2 ? 0xFFFFFF : 0;
                })).save(path));
        w.imageList().AddImagePath(path);
        w.imageList().SelectRow(1);
        w.openPreview();
        PreviewWindow& preview = *w.preview();
        PreviewCanvas& canvas = preview.canvas();
        QWidget* view = canvas.viewport();
        QTRY_VERIFY(preview.result() != nullptr);
        QVERIFY(preview.fitsWindow());
        QVERIFY(preview.zoom() > 0 && preview.zoom() < 1);
        for (const Qt::Key key : {Qt::Key_1, Qt::Key_F, Qt::Key_1}) {
            QTest::keyClick(&preview, key);
            QCOMPARE(preview.fitsWindow(), key == Qt::Key_F);
            if (key == Qt::Key_F) {
                QCOMPARE(canvas.horizontalScrollBar()->maximum(), 0);
                continue;
            }
            QCOMPARE(preview.zoom(), 1.0);
            QVERIFY(canvas.horizontalScrollBar()->maximum() > 0);
            QVERIFY(canvas.verticalScrollBar()->maximum() > 0);
            const QPoint before(canvas.horizontalScrollBar()->value(),
                                canvas.verticalScrollBar()->value());
            QTest::mousePress(view, Qt::LeftButton, {}, QPoint(200, 200));
            QTest::mouseMove(view, QPoint(150, 170));
            QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(150, 170));
            QCOMPARE(
                QPoint(canvas.horizontalScrollBar()->value(), canvas.verticalScrollBar()->value()),
                before + QPoint(50, 30));
        }
        // At 100 %, a new value shows the part in view first; the next value drops that part,
        // and a repaint right then paints only what is still held.
        int exact = 0;
        connect(&preview, &PreviewWindow::shownExact, [&] { ++exact; });
        w.Slider2->setValue(20);
        QTRY_VERIFY(exact > 0);
        w.Slider2->setValue(30);
        view->repaint();
        const auto wheel = [&](int delta, QPoint at) {
            QWheelEvent event(at, view->mapToGlobal(at), {}, {0, delta}, Qt::NoButton, {},
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(view, &event);
        };
        const QPoint at(300, 200);
        const QPointF under = *canvas.pictureAt(at);
        for (int k = 0; k < 7; ++k) {
            wheel(15, at);  // a touchpad: an eighth of a notch at a time
        }
        QCOMPARE(preview.zoom(), 1.0);
        wheel(15, at);
        QCOMPARE(preview.zoom(), 1.5);
        QVERIFY((*canvas.pictureAt(at) - under).manhattanLength() < 1.5);
        for (int k = 0; k < 10; ++k) {
            wheel(120, at);
        }
        QCOMPARE(preview.zoom(), 4.0);
        for (int k = 0; k < 20; ++k) {
            wheel(-120, at);
        }
        QVERIFY(preview.fitsWindow());
        const double fitted = preview.zoom();
        QTest::keyClick(&preview, Qt::Key_Equal, Qt::ControlModifier);
        QVERIFY(!preview.fitsWindow() && preview.zoom() > fitted);

        QTest::keyPress(&preview, Qt::Key_O);
        QVERIFY(preview.showsOriginal());
        QTest::keyRelease(&preview, Qt::Key_O);
        QVERIFY(!preview.showsOriginal());
        QTest::keyClick(&preview, Qt::Key_S);
        QVERIFY(preview.showsSplit());
        QTest::keyClick(&preview, Qt::Key_F);
        const int middle = view->width() / 2;
        QTest::mousePress(view, Qt::LeftButton, {}, QPoint(middle, 100));
        QTest::mouseMove(view, QPoint(middle - view->width() / 4, 100));
        QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(middle - view->width() / 4, 100));
        QVERIFY(canvas.divider() < 0.4 && canvas.divider() > 0.1);

        QTest::keyClick(&preview, Qt::Key_Escape);
        QVERIFY(!preview.isVisible());
        QVERIFY(preview.result() == nullptr);
        QVERIFY(canvas.pictureSize().isEmpty());
        w.openPreview();
        QTRY_VERIFY(preview.result() != nullptr);
    }

    // Each picture opens fitted, or at the zoom it was left at earlier in the run; while one
    // loads no zoom shows. The output's path has one slash after a folder typed with its own.
    void eachPictureOpensFittedOrAtItsOwnZoom() {
        WindowFixture f;
        Form1& w = f.open(1);
        for (const char* name : {"a.png", "b.png"}) {
            QVERIFY(ToQImage(MakePicture(400, 300, [](int x, int y) {
                        return quint32(x ^ y);
                    })).save(f.dir.filePath(name)));
            w.imageList().AddImagePath(f.dir.filePath(name));
        }
        w.Text1->setText(f.dir.filePath("out") + "//");
        const auto labels = [&] {
            QStringList texts;
            for (const QLabel* label : w.preview()->findChildren<QLabel*>()) {
                texts.append(label->text());
            }
            return texts;
        };
        w.imageList().SelectRow(1);
        w.openPreview();
        PreviewWindow& preview = *w.preview();
        QTRY_VERIFY(preview.result() != nullptr);
        QVERIFY(labels().contains("Output: " + f.dir.filePath("out/a-grayscale.jpg")));
        preview.canvas().setZoom(2);
        w.imageList().SelectRow(2);
        QVERIFY2(labels().filter(QRegularExpression("%$")).isEmpty(),
                 qPrintable(labels().join('|')));
        QTRY_VERIFY(preview.result() != nullptr);
        QVERIFY(preview.fitsWindow());
        QVERIFY(labels().contains("Output: " + f.dir.filePath("out/b-grayscale.jpg")));
        w.imageList().SelectRow(1);
        QTRY_VERIFY(preview.result() != nullptr);
        QCOMPARE(preview.zoom(), 2.0);
    }

    // On first use it opens clear of the sliders and "Start Converting"; its place is kept for
    // the next start, in a section of their own, with the zoom last chosen; the next start's
    // picture opens fitted all the same.
    void opensClearOfTheControlsAndRemembersItsPlace() {
        WindowFixture f;
        Form1& w = f.open(1);
        w.show();
        w.openPreview();
        const QRect controls(
            w.Frame1->mapToGlobal(QPoint(0, 0)),
            w.PushButton2->mapToGlobal(QPoint(w.PushButton2->width(), w.PushButton2->height())));
        QVERIFY(!w.preview()->frameGeometry().intersects(controls));
        w.preview()->setGeometry(40, 50, 500, 400);
        w.preview()->canvas().setZoom(2);
        w.preview()->close();
        Form1& again = f.open(1);
        again.openPreview();
        QCOMPARE(again.preview()->geometry(), QRect(40, 50, 500, 400));
        QVERIFY(again.preview()->fitsWindow());
        QCOMPARE(f.settings.readIn("Preview", "Zoom", ""), QStringLiteral("2"));
        QCOMPARE(f.settings.read("Zoom", "none"), QStringLiteral("none"));
    }
};

QTEST_MAIN(PreviewWindowTest)
#include "PreviewWindowTest.moc"
