#include "engine/BatchPaths.h"
#include "engine/ConversionEngine.h"
#include "engine/JpegWriter.h"
#include "imagelist/ImageList.h"
#include "support/TestPictures.h"
#include "support/WindowFixture.h"
#include "window/ImageListView.h"
#include "window/PreviewWindow.h"

#include <QDir>
#include <QFile>
#include <QSlider>
#include <QTest>

#include <cstring>

// The preview window, opened from the image list of the real window.
class PreviewWindowTest : public QObject {
    Q_OBJECT

    // What the batch writes for `source` with those thresholds, as a lossless grey PNG.
    static QImage batchResult(const QString& source, FilterThresholds thresholds,
                              const QString& folder) {
        PictureJob job;
        job.sourcePath = source;
        job.format = PictureJob::Format::Png;
        const std::atomic<bool> abandoned{false};
        MemoryBudget budget(std::uint64_t(1) << 30);
        PictureOutcome outcome = ConvertPicture(job, {thresholds, 85, folder}, abandoned, budget);
        if (outcome.failed()) {
            return {};
        }
        CommitOutputFile(*outcome.file);
        return QImage(OutputPath(folder, source, "png")).convertToFormat(QImage::Format_Grayscale8);
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
        QTRY_VERIFY(samePixels(preview.result(), batchResult(jpeg, first, out)));

        for (int row : {2, 3}) {
            w.imageList().SelectRow(row);
            const QString path = w.imageList().RowText(row);
            QTRY_VERIFY2(samePixels(preview.result(), batchResult(path, first, out)),
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
        QTRY_VERIFY(samePixels(preview.result(), batchResult(turned, {20, 180, 10}, out)));

        w.imageList().SelectRow(4);
        QTRY_VERIFY(preview.message().startsWith(QStringLiteral("Cannot load ") + broken));
        QVERIFY(preview.result() == nullptr);
        QVERIFY(f.dialogs.messages.isEmpty());
    }

    // Fit by default, 100 % with 1, fit again with F; O held shows the picture as it was.
    void zoomKeysAndTheOriginal() {
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
        QTRY_VERIFY(preview.result() != nullptr);
        QVERIFY(preview.fitsWindow());
        QVERIFY(preview.zoom() > 0 && preview.zoom() < 1);
        const struct {
            Qt::Key key;
            bool fits;
        } steps[] = {{Qt::Key_1, false}, {Qt::Key_F, true}, {Qt::Key_1, false}};
        for (const auto& step : steps) {
            QTest::keyClick(&preview, step.key);
            QCOMPARE(preview.fitsWindow(), step.fits);
            QCOMPARE(preview.zoom() == 1.0, !step.fits);
        }
        QTest::keyPress(&preview, Qt::Key_O);
        QVERIFY(preview.showsOriginal());
        QTest::keyRelease(&preview, Qt::Key_O);
        QVERIFY(!preview.showsOriginal());
    }
};

QTEST_MAIN(PreviewWindowTest)
#include "PreviewWindowTest.moc"
