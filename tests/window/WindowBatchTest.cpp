#include "engine/AtomicFile.h"
#include "engine/PictureLoader.h"
#include "imagelist/ImageList.h"
#include "support/TestPictures.h"
#include "support/WindowFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <sys/stat.h>

#include <algorithm>
#include <vector>

// "Start Converting" clicked in the real window.
class WindowBatchTest : public QObject {
    Q_OBJECT

    // The samples that ship with the program: JPEG and PNG, photographs of a few megapixels.
    static QStringList samplePictures() {
        QDir samples(QStringLiteral(TONVALER_SAMPLE_PICTURES));
        QStringList paths;
        for (const QString& name : samples.entryList({"*.jpg", "*.png"}, QDir::Files, QDir::Name)) {
            paths.append(samples.filePath(name));
        }
        return paths;
    }

    static bool saidDone(const FakeDialogs& dialogs) {
        for (const auto& m : dialogs.messages) {
            if (m.text == QLatin1String("Done."))
                return true;
        }
        return false;
    }

  private slots:
    void theSamplesConvertFromTheWindow_data() {
        QTest::addColumn<int>("workers");
        QTest::newRow("1 worker") << 1;
        QTest::newRow("2 workers") << 2;
    }

    void theSamplesConvertFromTheWindow() {
        QFETCH(int, workers);
        const QStringList pictures = samplePictures();
        QCOMPARE(pictures.size(), 4);
        WindowFixture f;
        Form1& w = f.open(workers);
        QDir().mkpath(f.dir.filePath("out"));
        w.Text1->setText(f.dir.filePath("out"));
        w.imageList().AddImagePaths(pictures);
        w.show();
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(w.PushButton2, Qt::LeftButton);
        QCOMPARE(w.cursor().shape(), Qt::WaitCursor);
        QTRY_VERIFY_WITH_TIMEOUT(saidDone(f.dialogs), 120000);
        qInfo("%d pictures with %d worker(s): %lld ms", int(pictures.size()), workers,
              clock.elapsed());
        QCOMPARE(f.dialogs.messages.size(), 1);
        for (const QString& source : pictures) {
            const QString output =
                f.dir.filePath("out/") + QFileInfo(source).completeBaseName() + "-grayscale.jpg";
            const BgrxImage result = LoadPicture(output);
            const BgrxImage original = LoadPicture(source);
            QCOMPARE(result.width(), original.width());
            QCOMPARE(result.height(), original.height());
        }
        QCOMPARE(w.ProgressBar1->value(), 0);
        QCOMPARE(w.ProgressBar1->text(), QStringLiteral("Progress Bar"));
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
    }

    // Thresholds, quality and folder moved right after the click, while the first pictures are
    // being converted: every picture begun later has the new values. With one worker, the order
    // in which the outputs were written is the order the pictures were begun, so the pictures
    // that took an old value are a first run of it, however long the window's thread took to
    // make the change.
    void aChangeDuringABatchReachesEveryPictureBegunAfterIt() {
        WindowFixture f;
        Form1& w = f.open(1);
        const QString before = f.dir.filePath("before");
        const QString after = f.dir.filePath("after");
        QDir().mkpath(before);
        QDir().mkpath(after);
        w.Text1->setText(before);
        // A grey of 30 keeps its grey under the black threshold 60, and turns white under 20.
        // JPEGs and PNGs in turn: the band way and the whole-picture way.
        const BgrxImage grey = MakePicture(1500, 1500, [](int, int) { return 0x1E1E1E; });
        QImage png(1500, 1500, QImage::Format_RGB32);
        png.fill(qRgb(30, 30, 30));
        const int rows = 12;
        for (int i = 1; i <= rows; ++i) {
            const QString path =
                f.dir.filePath(QString("p%1.%2").arg(i).arg(i % 2 ? "jpg" : "png"));
            if (i % 2) {
                WriteBytes(path, JpegBytesOf(grey, 100));
            } else {
                QVERIFY(png.save(path));
            }
            w.imageList().AddImagePath(path);
        }
        QCOMPARE(w.Slider2->value(), 60);
        QTest::mouseClick(w.PushButton2, Qt::LeftButton);
        w.Slider2->setValue(20);
        w.Slider1->setValue(100);
        w.Text1->setText(after);
        QTRY_VERIFY_WITH_TIMEOUT(saidDone(f.dialogs), 60000);
        QCOMPARE(f.dialogs.messages.size(), 1);
        std::vector<std::pair<std::int64_t, QString>> written;  // (ns, output)
        for (int i = 1; i <= rows; ++i) {
            const QString name = QString("p%1-grayscale.jpg").arg(i);
            const bool old = QFile::exists(before + "/" + name);
            QVERIFY2(old != QFile::exists(after + "/" + name), qPrintable(name));
            const QString output = (old ? before : after) + "/" + name;
            struct stat info {};
            QCOMPARE(::stat(QFile::encodeName(output).constData(), &info), 0);
            written.emplace_back(info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec, output);
        }
        std::sort(written.begin(), written.end());
        bool newThreshold = false;
        bool newFolder = false;
        for (const auto& [when, output] : written) {
            const QString name = QFileInfo(output).fileName();
            const bool old = output.startsWith(before + "/");
            const BgrxImage result = LoadPicture(output);
            const bool white = result.row(750)[4 * 750] == 255;
            // Once a picture took a new value, every later one did; the threshold moved first.
            QVERIFY2(white || !newThreshold, qPrintable(name));
            QVERIFY2(!old || !newFolder, qPrintable(name));
            QVERIFY2(white || old, qPrintable(name));
            newThreshold = white;
            newFolder = !old;
        }
        QVERIFY(newThreshold && newFolder);
    }

    void closingTheWindowMidBatchKeepsOnlyWholeFiles() {
        WindowFixture f;
        Form1& w = f.open(1);
        const QString out = f.dir.filePath("out");
        QDir().mkpath(out);
        w.Text1->setText(out);
        QImage image(1200, 1200, QImage::Format_RGB32);
        image.fill(qRgb(40, 40, 40));
        for (int i = 0; i < 12; ++i) {
            const QString path = f.dir.filePath(QString("p%1.png").arg(i));
            QVERIFY(image.save(path));
            w.imageList().AddImagePath(path);
        }
        w.show();
        QTest::mouseClick(w.PushButton2, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(out).entryList(QDir::Files).isEmpty(), 30000);
        QVERIFY(w.close());
        f.window.reset();
        const QStringList written = QDir(out).entryList(QDir::Files);
        QVERIFY(written.size() < 12);
        QCOMPARE(QDir(out).entryList({QString("*") + kTemporarySuffix}, QDir::Files | QDir::Hidden),
                 QStringList());
        for (const QString& name : written) {
            QCOMPARE(LoadPicture(out + "/" + name).width(), 1200);
        }
        QVERIFY(!saidDone(f.dialogs));
    }

    void theProgressShowsPercentSignsAsTheyAreAndRoundsTiesToEven() {
        WindowFixture f;
        Form1& w = f.open();
        const QString out = f.dir.filePath("out");
        QDir().mkpath(out);
        w.Text1->setText(out);
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::white);
        const QString path = f.dir.filePath("100%p.png");
        QVERIFY(image.save(path, "PNG"));
        for (int row = 0; row < 8; ++row) {
            w.imageList().AddImagePath(path);
        }
        QTest::mouseClick(w.PushButton2, Qt::LeftButton);
        QCOMPARE(w.progressValue(), 12.5);
        QCOMPARE(w.ProgressBar1->value(), 12);
        QCOMPARE(w.ProgressBar1->text(), QStringLiteral("Processing: 100%p.png"));
        QTRY_VERIFY_WITH_TIMEOUT(saidDone(f.dialogs), 30000);
    }
};

QTEST_MAIN(WindowBatchTest)
#include "WindowBatchTest.moc"
