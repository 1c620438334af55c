#include "convert/AtomicFile.h"
#include "convert/PictureLoader.h"
#include "imagelist/ImageList.h"
#include "support/WindowFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>

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
