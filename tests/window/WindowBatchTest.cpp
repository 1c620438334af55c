#include "engine/PictureLoader.h"
#include "engine/output/AtomicFile.h"
#include "imagelist/ImageList.h"
#include "support/RunTool.h"
#include "support/TestPictures.h"
#include "support/WindowFixture.h"
#include "window/ImageListView.h"
#include "window/PreviewWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

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

    // An output folder "out" in the window's field, and a first row that takes a while: a
    // 3000 × 2000 JPEG. Answers the folder.
    static QString slowFirstPicture(WindowFixture& f, Form1& w) {
        const QString out = f.dir.filePath("out");
        QDir().mkpath(out);
        w.Text1->setText(out);
        WriteBytes(f.dir.filePath("big.jpg"),
                   JpegBytesOf(MakePicture(3000, 2000, [](int x, int y) { return x ^ y; })));
        w.imageList().AddImagePath(f.dir.filePath("big.jpg"));
        return out;
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
        QCOMPARE(w.batch().picturesMadeAgain(), 0);
    }

    // Thresholds, quality and folder moved with the window's own controls right after the click,
    // while the first pictures are being converted with the old values: the first pass's turn
    // came with the click, so its file has the old values; every later pass has the new ones.
    void aChangeRightAfterTheClickHoldsFromTheSecondPass_data() {
        theSamplesConvertFromTheWindow_data();  // 1 and 2 workers
    }

    void aChangeRightAfterTheClickHoldsFromTheSecondPass() {
        QFETCH(int, workers);
        WindowFixture f;
        Form1& w = f.open(workers);
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
        // The first far larger: the change lands while it is made, however slowly the test's
        // thread gets its turns on a busy machine.
        const QByteArray first =
            JpegBytesOf(MakePicture(4000, 4000, [](int, int) { return 0x1E1E1E; }), 100);
        for (int i = 1; i <= rows; ++i) {
            const QString path =
                f.dir.filePath(QString("p%1.%2").arg(i).arg(i % 2 ? "jpg" : "png"));
            if (i == 1) {
                WriteBytes(path, first);
            } else if (i % 2) {
                WriteBytes(path, JpegBytesOf(grey, 100));
            } else {
                QVERIFY(png.save(path));
            }
            w.imageList().AddImagePath(path);
        }
        QCOMPARE(w.Slider2->value(), 60);
        QTest::mouseClick(w.PushButton2, Qt::LeftButton);
        QTest::qWait(50);  // the workers have begun
        w.Slider2->setValue(20);
        w.Slider1->setValue(100);
        w.Text1->setText(after);
        QTRY_VERIFY_WITH_TIMEOUT(saidDone(f.dialogs), 60000);
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(QDir(before).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"p1-grayscale.jpg"});
        QCOMPARE(LoadPicture(before + "/p1-grayscale.jpg").row(750)[4 * 750], 30);
        for (int i = 2; i <= rows; ++i) {
            const QString output = after + QString("/p%1-grayscale.jpg").arg(i);
            const BgrxImage result = LoadPicture(output);
            QCOMPARE(result.row(750)[4 * 750], 255);
        }
        qInfo("%d of %d pictures made again", w.batch().picturesMadeAgain(), rows);
    }

    // When a slow first picture lets many quick ones finish behind it, they are taken up in one
    // go: the bar still paints each one's name, with its own progress.
    void everyPictureNameIsPainted() {
        WindowFixture f;
        Form1& w = f.open(2);
        const QString out = slowFirstPicture(f, w);
        QImage small(16, 16, QImage::Format_RGB32);
        small.fill(Qt::gray);
        QStringList names{"big.jpg"};
        for (int i = 0; i < 12; ++i) {
            names.append(QString("small%1.png").arg(i));
            QVERIFY(small.save(f.dir.filePath(names.last())));
            w.imageList().AddImagePath(f.dir.filePath(names.last()));
        }
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        struct PaintedTexts : QObject {
            QStringList texts;
            bool eventFilter(QObject* bar, QEvent* event) override {
                if (event->type() == QEvent::Paint) {
                    const auto* progress = static_cast<QProgressBar*>(bar);
                    texts.append(QString("%1 %2").arg(progress->value()).arg(progress->text()));
                }
                return false;
            }
        } painted;
        w.ProgressBar1->installEventFilter(&painted);
        QTest::mouseClick(w.PushButton2, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(saidDone(f.dialogs), 60000);
        for (int i = 0; i < names.size(); ++i) {
            const int percent = qRound(100.0 * (i + 1) / names.size());
            QVERIFY2(
                painted.texts.contains(QString("%1 Processing: %2").arg(percent).arg(names[i])),
                qPrintable(painted.texts.join(" | ")));
        }
    }

    // Rows dragged with the mouse while the batch converts the slow one (big): a converted row
    // dragged ahead is not converted again, and a waiting row dragged behind the current one still
    // has its turn, right after it. The bar's names tell the turns.
    void aRowDraggedDuringABatchKeepsItsOneTurn_data() {
        QTest::addColumn<int>("workers");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QStringList>("turns");
        for (const int workers : {1, 2}) {
            QTest::addRow("a converted row dragged ahead, %d worker(s)", workers)
                << workers << QStringList{"big", "a", "b", "c"} << 1 << 3
                << QStringList{"big", "a", "b", "c"};
            QTest::addRow("a waiting row dragged behind, %d worker(s)", workers)
                << workers << QStringList{"a", "big", "b", "c"} << 4 << 1
                << QStringList{"a", "big", "c", "b"};
        }
    }

    void aRowDraggedDuringABatchKeepsItsOneTurn() {
        QFETCH(int, workers);
        QFETCH(QStringList, rows);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QStringList, turns);
        WindowFixture f;
        Form1& w = f.open(workers);
        const QString out = f.dir.filePath("out");
        QDir().mkpath(out);
        w.Text1->setText(out);
        QImage small(16, 16, QImage::Format_RGB32);
        small.fill(Qt::gray);
        for (const QString& name : rows) {
            const QString path = f.dir.filePath(name + ".jpg");
            if (name == "big") {
                WriteBytes(path, JpegBytesOf(MakePicture(
                                     4000, 3000, [](int x, int y) { return quint32(x ^ y); })));
            } else {
                QVERIFY(small.save(path));
            }
            w.imageList().AddImagePath(path);
        }
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // The turns as the bar paints them (it paints each at once); the drag as soon as big's
        // turn has come, before its picture is taken up.
        struct Turns : QObject {
            QStringList names;
            std::function<void()> onBig;
            bool eventFilter(QObject* bar, QEvent* event) override {
                const QString text = static_cast<QProgressBar*>(bar)->text();
                if (event->type() == QEvent::Paint && text.startsWith("Processing: ")) {
                    const QString name = QFileInfo(text.mid(12)).completeBaseName();
                    if (names.isEmpty() || names.last() != name) {
                        names.append(name);
                        if (name == "big") {
                            onBig();
                        }
                    }
                }
                return false;
            }
        } seen;
        bool dragged = false;
        seen.onBig = [&] {
            if (dragged) {
                return;  // big's second turn, which must not come
            }
            QWidget* view = w.ListView1->viewport();
            const auto send = [&](QEvent::Type type, int position, Qt::MouseButtons held) {
                const QPoint at =
                    w.ListView1->visualRect(w.imageList().index(position - 1)).center();
                QMouseEvent e(type, QPointF(at), QPointF(view->mapToGlobal(at)),
                              type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                              Qt::NoModifier);
                QCoreApplication::sendEvent(view, &e);
            };
            send(QEvent::MouseButtonPress, from, Qt::LeftButton);
            for (int p = from; p != to;) {
                p += to > from ? 1 : -1;
                send(QEvent::MouseMove, p, Qt::LeftButton);
            }
            send(QEvent::MouseButtonRelease, to, Qt::NoButton);
            dragged = true;
        };
        w.ProgressBar1->installEventFilter(&seen);
        QTest::mouseClick(w.PushButton2, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(saidDone(f.dialogs), 60000);
        QVERIFY(dragged);
        QCOMPARE(w.imageList().RowText(to), f.dir.filePath(rows[from - 1] + ".jpg"));
        QCOMPARE(seen.names, turns);
        QCOMPARE(f.dialogs.reports(), QStringList());
        QStringList outputs;
        for (const QString& name : rows) {
            outputs.append(name + "-grayscale.jpg");
        }
        outputs.sort();
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name), outputs);
    }

    // A folder typed into the field during a batch, a key at each pass's turn: "out" is taken
    // back to the parent folder and "new" typed, then Enter; halfway a report box takes the focus.
    // The passes keep the folder in force until Enter, whatever the field holds meanwhile, and no
    // file lands in the parent, no report.
    void aFolderTypedDuringABatchCountsOnceEntered() {
        WindowFixture f;
        Form1& w = f.open(1);
        const QString out = f.dir.filePath("out");
        const QString typed = f.dir.filePath("new");
        QDir().mkpath(out);
        QDir().mkpath(typed);
        w.Text1->setText(out);
        QImage small(16, 16, QImage::Format_RGB32);
        small.fill(Qt::gray);
        for (int i = 0; i < 10; ++i) {
            const QString path = f.dir.filePath(QString("p%1.png").arg(i));
            QVERIFY(small.save(path));
            w.imageList().AddImagePath(path);
        }
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const std::vector<std::vector<Qt::Key>> keys = {{},
                                                        {Qt::Key_End, Qt::Key_Backspace},
                                                        {Qt::Key_Backspace},
                                                        {Qt::Key_Backspace},
                                                        {Qt::Key_N},
                                                        {Qt::Key_E},
                                                        {Qt::Key_W},
                                                        {Qt::Key_Return}};
        struct Typist : QObject {
            QLineEdit* field;
            const std::vector<std::vector<Qt::Key>>* keys;
            QString last;
            std::size_t turn = 0;
            bool eventFilter(QObject* bar, QEvent* event) override {
                const QString text = static_cast<QProgressBar*>(bar)->text();
                if (event->type() == QEvent::Paint && text.startsWith("Processing: ") &&
                    text != last) {
                    last = text;
                    if (turn < keys->size()) {
                        for (const Qt::Key key : (*keys)[turn]) {
                            QTest::keyClick(field, key);
                        }
                    }
                    if (turn == 4) {  // a report box takes the focus: no end of typing
                        QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
                        QCoreApplication::sendEvent(field, &away);
                    }
                    ++turn;
                }
                return false;
            }
        } typist;
        typist.field = w.Text1;
        typist.keys = &keys;
        w.ProgressBar1->installEventFilter(&typist);
        QTest::mouseClick(w.PushButton2, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(saidDone(f.dialogs), 60000);
        QCOMPARE(w.Text1->text(), typed);
        QCOMPARE(f.dialogs.reports(), QStringList());
        // The turn of the pass that saw Enter had read the folder already.
        QStringList before, after;
        for (int i = 0; i < 10; ++i) {
            (i < int(keys.size()) ? before : after).append(QString("p%1-grayscale.jpg").arg(i));
        }
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name), before);
        QCOMPARE(QDir(typed).entryList(QDir::Files | QDir::Hidden, QDir::Name), after);
        QCOMPARE(QDir(f.dir.path()).entryList({"*.jpg"}, QDir::Files | QDir::Hidden),
                 QStringList());
    }

    // During a batch, with the preview open, the folder "out" taken back to its parent and "new"
    // typed: it counts once the person is done with it, by Enter, by Tab (which goes to the "..."
    // button), or by answering the "..." button's dialog with that very folder; it shows at once
    // in the preview's output line. Half typed and then left for the "..." button, whose dialog
    // is cancelled, it never counts.
    void aFolderDuringABatchWithThePreviewAndTheBrowseButton_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("ending");
        QTest::addColumn<bool>("counts");
        QTest::newRow("entered") << "new"
                                 << "Return" << true;
        QTest::newRow("left by Tab") << "new"
                                     << "Tab" << true;
        QTest::newRow("... answered with the folder typed") << "new/"
                                                            << "... new" << true;
        QTest::newRow("half typed, then ... cancelled") << ""
                                                        << "..." << false;
        // No folder: its files would go to the file system's root.
        QTest::newRow("emptied and entered") << "(emptied)"
                                             << "Return" << false;
    }

    void aFolderDuringABatchWithThePreviewAndTheBrowseButton() {
        QFETCH(QString, typed);
        QFETCH(QString, ending);
        QFETCH(bool, counts);
        WindowFixture f;
        Form1& w = f.open(1);
        const QString out = slowFirstPicture(f, w);
        const QString folder = f.dir.filePath("new");
        QDir().mkpath(folder);
        QImage small(16, 16, QImage::Format_RGB32);
        small.fill(Qt::gray);
        for (int i = 0; i < 4; ++i) {
            QVERIFY(small.save(f.dir.filePath(QString("p%1.png").arg(i))));
            w.imageList().AddImagePath(f.dir.filePath(QString("p%1.png").arg(i)));
        }
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.imageList().SelectRow(2);
        w.openPreview();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        const auto outputLine = [&] {
            for (const QLabel* label : w.preview()->findChildren<QLabel*>()) {
                if (label->text().startsWith("Output: ")) {
                    return label->text();
                }
            }
            return QString();
        };
        QTest::mouseClick(w.PushButton2, Qt::LeftButton);  // the slow first picture's turn
        w.Text1->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(w.Text1, Qt::Key_End);
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(w.Text1, Qt::Key_Backspace);
        }
        if (typed == "(emptied)") {
            w.Text1->clear();
        } else {
            QTest::keyClicks(w.Text1, typed);
        }
        if (ending.startsWith("...")) {
            if (ending != "...") {
                f.dialogs.folderAnswers.enqueue(f.dir.filePath(ending.mid(4)));
            }
            QTest::mouseClick(w.PushButton7, Qt::LeftButton);
        } else {
            QTest::keyClick(w.Text1, ending == "Tab" ? Qt::Key_Tab : Qt::Key_Return);
        }
        if (counts) {
            QCOMPARE(outputLine(), "Output: " + folder + "/p0-grayscale.jpg");
        }
        QTRY_VERIFY_WITH_TIMEOUT(saidDone(f.dialogs), 60000);
        QCOMPARE(f.dialogs.reports(), QStringList());
        QCOMPARE(QDir(f.dir.path()).entryList({"*.jpg"}, QDir::Files), QStringList{"big.jpg"});
        QCOMPARE(QDir(counts ? folder : out).entryList(QDir::Files).size(), counts ? 4 : 5);
    }

    // A folder add that ends while a batch runs leaves the window busy: "Clear List" removes
    // nothing under the batch, and every row of the batch is converted.
    void aFolderAddDuringABatchLeavesTheWindowBusy() {
        WindowFixture f;
        Form1& w = f.open(1);
        const QString out = slowFirstPicture(f, w);
        QDir().mkpath(f.dir.filePath("more"));
        QImage small(16, 16, QImage::Format_RGB32);
        small.fill(Qt::gray);
        for (const char* name : {"a.png", "b.png", "more/c.png"}) {
            QVERIFY(small.save(f.dir.filePath(name)));
        }
        w.imageList().AddImagePaths({f.dir.filePath("a.png"), f.dir.filePath("b.png")});
        f.dialogs.inputAnswers.enqueue("png");
        f.dialogs.folderAnswers.enqueue(f.dir.filePath("more"));
        QTest::mouseClick(w.PushButton2, Qt::LeftButton);
        QTest::mouseClick(w.PushButton3, Qt::LeftButton);  // adds more/c.png, with its yields
        QCOMPARE(w.imageList().RowCount(), 4);
        QCOMPARE(w.pointer().mode(), PointerMode::Hourglass);
        QTest::mouseClick(w.PushButton4, Qt::LeftButton);
        QCOMPARE(w.imageList().RowCount(), 4);
        QTRY_VERIFY_WITH_TIMEOUT(saidDone(f.dialogs), 60000);
        QCOMPARE(f.dialogs.reports(), QStringList());
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 QStringList({"a-grayscale.jpg", "b-grayscale.jpg", "big-grayscale.jpg"}));
        QCOMPARE(w.pointer().mode(), PointerMode::Default);
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

    // "Copy as Command Line" from the list's menu, pasted into a shell, writes byte for byte what
    // Start wrote: names a shell would take apart, and values other than the first ones.
    void theCommandCopiedWritesWhatTheWindowWrites() {
        WindowFixture f;
        Form1& w = f.open(2);
        const QString out = f.dir.filePath("out put's $dir");
        QDir().mkpath(out);
        w.Text1->setText(out);
        const QStringList samples = samplePictures();
        const QStringList names{"two  words.jpg", "it's.png", "$HOME `x` \\.png", "ünï\n;*.png",
                                "-dash.jpg"};
        for (int i = 0; i < names.size(); ++i) {
            const QString path = f.dir.filePath(QString(names[i]).replace("\\n", "\n"));
            if (i < samples.size()) {
                QVERIFY(QFile::copy(samples[i], path));
            } else {
                WriteBytes(path, JpegBytesOf(MakePicture(300, 200, [](int x, int y) {
                               return static_cast<quint32>(x * 7 + y * 3);
                           })));
            }
            w.imageList().AddImagePath(path);
        }
        w.Slider1->setValue(77);
        w.Slider2->setValue(41);
        w.Slider3->setValue(150);
        w.Slider4->setValue(33);
        w.show();
        QTest::mouseClick(w.PushButton2, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(saidDone(f.dialogs), 120000);
        QVERIFY(QDir().rename(out, f.dir.filePath("window")));
        QVERIFY(QDir().mkpath(out));

        bool offered = false;
        QTimer::singleShot(0, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu != nullptr);
            for (QAction* action : menu->actions()) {
                if (action->text() == QLatin1String("Copy as Command Line") &&
                    action->isEnabled()) {
                    offered = true;
                    action->trigger();
                }
            }
            menu->close();
        });
        const QPoint at(5, 5);
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at,
                                    w.ListView1->viewport()->mapToGlobal(at));
        QApplication::sendEvent(w.ListView1->viewport(), &menuEvent);
        QVERIFY(offered);

        // The program as a shell finds it, run under the emulator where the tests run under one.
        const QString bin = f.dir.filePath("bin");
        QDir().mkpath(bin);
        QFile shim(bin + "/tonvaler-cli");
        QVERIFY(shim.open(QIODevice::WriteOnly));
        shim.write("#!/bin/sh\nexec " TONVALER_CLI_RUNNER " '" TONVALER_CLI "' \"$@\"\n");
        shim.close();
        QVERIFY(shim.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const ToolRun shell = RunTool("env", {"PATH=" + bin + ":" + qEnvironmentVariable("PATH"),
                                              "XDG_CONFIG_HOME=" + f.dir.filePath("cli-config"),
                                              "sh", "-c", QGuiApplication::clipboard()->text()});
        QVERIFY2(shell.succeeded(), shell.err.constData());

        const QDir byWindow(f.dir.filePath("window"));
        const QStringList written = byWindow.entryList(QDir::Files, QDir::Name);
        QCOMPARE(written.size(), names.size());
        QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name), written);
        for (const QString& name : written) {
            QFile a(byWindow.filePath(name)), b(out + "/" + name);
            QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
            QVERIFY2(a.readAll() == b.readAll(), qPrintable(name));
        }
    }
};

QTEST_MAIN(WindowBatchTest)
#include "WindowBatchTest.moc"
