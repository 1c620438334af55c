#include "imagelist/ImageList.h"
#include "imagelist/SampleFiles.h"
#include "support/TestPictures.h"
#include "support/WindowFixture.h"
#include "window/ImageListView.h"

#include <QApplication>
#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

// The list in the window: rows dragged into a new order, files dropped on it, the samples.
class ListViewDragTest : public QObject {
    Q_OBJECT

    static void mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButtons held) {
        QMouseEvent e(type, QPointF(at), QPointF(target->mapToGlobal(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(target, &e);
    }
    static QPoint rowCentre(Form1& w, int position) {
        return w.ListView1->visualRect(w.imageList().index(position - 1)).center();
    }
    static QString order(Form1& w) {
        QStringList t;
        for (int i = 1; i <= w.imageList().RowCount(); ++i) t.append(w.imageList().RowText(i));
        return t.join(",");
    }
  private slots:
    void aRowDraggedOverItsNeighboursMovesWithThePointer() {
        WindowFixture f;
        WriteBytes(f.programFolder + "/drag.ico", IconFileBytes(Qt::darkBlue));
        Form1& w = f.open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.imageList().AddImagePaths({"A", "B", "C"});
        QWidget* rows = w.ListView1->viewport();
        mouse(rows, QEvent::MouseButtonPress, rowCentre(w, 3), Qt::LeftButton);
        QCOMPARE(rows->cursor().shape(), Qt::BitmapCursor);  // the drag pointer
        mouse(rows, QEvent::MouseMove, rowCentre(w, 2), Qt::LeftButton);
        mouse(rows, QEvent::MouseMove, rowCentre(w, 1), Qt::LeftButton);
        mouse(rows, QEvent::MouseButtonRelease, rowCentre(w, 1), Qt::NoButton);
        QCOMPARE(order(w), QStringLiteral("C,A,B"));
        QCOMPARE(w.imageList().SelectedPosition(), 1);
        QCOMPARE(rows->cursor().shape(), Qt::ArrowCursor);
        // Moves without a button change nothing.
        mouse(rows, QEvent::MouseMove, rowCentre(w, 3), Qt::NoButton);
        QCOMPARE(order(w), QStringLiteral("C,A,B"));
    }

    // A report box that opens under a drag takes the button's release: once it is answered,
    // moves without a button reorder nothing.
    void aDragWhoseReleaseWentElsewhereEndsAtTheNextMove() {
        WindowFixture f;
        Form1& w = f.open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.imageList().AddImagePaths({"A", "B", "C"});
        QWidget* rows = w.ListView1->viewport();
        mouse(rows, QEvent::MouseButtonPress, rowCentre(w, 3), Qt::LeftButton);
        mouse(rows, QEvent::MouseMove, rowCentre(w, 2), Qt::LeftButton);
        QCOMPARE(order(w), QStringLiteral("A,C,B"));
        mouse(rows, QEvent::MouseMove, rowCentre(w, 1), Qt::NoButton);
        mouse(rows, QEvent::MouseMove, rowCentre(w, 3), Qt::NoButton);
        QCOMPARE(order(w), QStringLiteral("A,C,B"));
        QCOMPARE(rows->cursor().shape(), Qt::ArrowCursor);
    }

    // The context menu takes the right button's release: afterwards, moves without a button
    // reorder nothing, whether "Preview" was chosen or the menu dismissed.
    void aRightClickNeverStartsARowDrag_data() {
        QTest::addColumn<bool>("choosePreview");
        QTest::newRow("Preview chosen") << true;
        QTest::newRow("menu dismissed") << false;
    }

    void aRightClickNeverStartsARowDrag() {
        QFETCH(bool, choosePreview);
        WindowFixture f;
        Form1& w = f.open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.imageList().AddImagePaths({"A", "B", "C"});
        QWidget* rows = w.ListView1->viewport();
        bool menuShown = false;
        QTimer::singleShot(50, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            menuShown = menu != nullptr;
            if (menu && choosePreview) {
                menu->actions().first()->trigger();
                menu->close();
            } else if (menu) {
                QTest::keyClick(menu, Qt::Key_Escape);
            }
        });
        // Through the window system, as a press arrives: it brings the menu, whose loop runs.
        QTest::mousePress(w.windowHandle(), Qt::RightButton, {}, rows->mapTo(&w, rowCentre(w, 3)));
        QVERIFY(menuShown);
        QCOMPARE(w.preview() != nullptr, choosePreview);
        mouse(rows, QEvent::MouseMove, rowCentre(w, 2), Qt::NoButton);
        mouse(rows, QEvent::MouseMove, rowCentre(w, 1), Qt::NoButton);
        QCOMPARE(order(w), QStringLiteral("A,B,C"));
    }

    // The pointer drawn for the program, from the build folder's layout and an installed one.
    void theDragPointerThatShipsIsFoundAndShown_data() {
        QTest::addColumn<QString>("programFolder");  // relative to the test's folder
        QTest::addColumn<QString>("placed");
        QTest::newRow("beside the program") << "program"
                                            << "program/drag.ico";
        QTest::newRow("installed") << "usr/bin"
                                   << "usr/share/tonvaler/drag.ico";
    }

    void theDragPointerThatShipsIsFoundAndShown() {
        QFETCH(QString, programFolder);
        QFETCH(QString, placed);
        WindowFixture f;
        f.programFolder = f.dir.filePath(programFolder);
        QDir().mkpath(f.programFolder);
        QDir().mkpath(QFileInfo(f.dir.filePath(placed)).path());
        QVERIFY(QFile::copy(QStringLiteral(TONVALER_SOURCE_DIR "/resources/drag.ico"),
                            f.dir.filePath(placed)));
        Form1& w = f.open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.imageList().AddImagePaths({"A", "B"});
        QWidget* rows = w.ListView1->viewport();
        mouse(rows, QEvent::MouseButtonPress, rowCentre(w, 1), Qt::LeftButton);
        QCOMPARE(rows->cursor().shape(), Qt::BitmapCursor);
        const QImage pointer = rows->cursor().pixmap().toImage();
        QCOMPARE(pointer.size(), QSize(32, 32));
        QCOMPARE(rows->cursor().hotSpot(), QPoint(16, 16));  // the middle of the row it moves
        QCOMPARE(qAlpha(pointer.pixel(0, 0)), 0);
        QCOMPARE(pointer.pixel(16, 14), qRgb(0, 0, 0));
        mouse(rows, QEvent::MouseButtonRelease, rowCentre(w, 1), Qt::NoButton);
        QVERIFY(f.dialogs.messages.isEmpty());
    }

    void withoutADragPointerFileThePointerStays() {
        WindowFixture f;
        Form1& w = f.open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.imageList().AddImagePaths({"A", "B"});
        QWidget* rows = w.ListView1->viewport();
        const Qt::CursorShape before = rows->cursor().shape();
        mouse(rows, QEvent::MouseButtonPress, rowCentre(w, 1), Qt::LeftButton);
        QCOMPARE(rows->cursor().shape(), before);
        mouse(rows, QEvent::MouseMove, rowCentre(w, 2), Qt::LeftButton);
        mouse(rows, QEvent::MouseButtonRelease, rowCentre(w, 2), Qt::NoButton);
        QCOMPARE(order(w), QStringLiteral("B,A"));
        QVERIFY(f.dialogs.messages.isEmpty());
    }

    void onlyFilesCanBeDropped() {
        WindowFixture f;
        Form1& w = f.open();
        QWidget* rows = w.ListView1->viewport();
        QMimeData text;
        text.setText("words");
        QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, {});
        QCoreApplication::sendEvent(rows, &refused);
        QVERIFY(!refused.isAccepted());
        QDropEvent textDrop(QPointF(5, 5), Qt::CopyAction, &text, Qt::LeftButton, {});
        QCoreApplication::sendEvent(rows, &textDrop);
        QCOMPARE(w.imageList().RowCount(), 0);

        QFile(f.dir.filePath("a.jpg")).open(QIODevice::WriteOnly);
        QDir().mkpath(f.dir.filePath("pics/sub"));
        QFile(f.dir.filePath("pics/sub/b.png")).open(QIODevice::WriteOnly);
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(f.dir.filePath("a.jpg")),
                       QUrl::fromLocalFile(f.dir.filePath("pics"))});
        QDragEnterEvent taken(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, {});
        QCoreApplication::sendEvent(rows, &taken);
        QVERIFY(taken.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, {});
        QCoreApplication::sendEvent(rows, &drop);
        QCOMPARE(order(w), f.dir.filePath("a.jpg") + "," + f.dir.filePath("pics/sub/b.png"));
    }

    void theSamplesAreRecordedAtTheFirstStartAndLoadedByTheButton() {
        WindowFixture f;
        QDir().mkpath(f.programFolder + "/Samples");
        for (const char* name : {"b.png", "a.jpg"}) {
            QFile(f.programFolder + "/Samples/" + name).open(QIODevice::WriteOnly);
        }
        Form1& w = f.open();
        QVERIFY(!f.settings.read("Snapshot", "").isEmpty());
        QFile(f.programFolder + "/Samples/c.png").open(QIODevice::WriteOnly);
        Form1& again = f.open();  // the record is not made anew
        QTest::mouseClick(again.PushButton5, Qt::LeftButton);
        QCOMPARE(order(again),
                 f.programFolder + "/Samples/a.jpg," + f.programFolder + "/Samples/b.png");
        QCOMPARE(f.dialogs.messages.size(), 1);
        Q_UNUSED(w);
    }

    void anEmptyRecordIsTriedAgainAtTheNextStart() {
        WindowFixture f;
        f.open();
        QCOMPARE(f.settings.read("Snapshot", "absent"), QString());
        QDir().mkpath(f.programFolder + "/Samples");
        QFile(f.programFolder + "/Samples/late.png").open(QIODevice::WriteOnly);
        f.open();
        QVERIFY(UnscrambleText(f.settings.read("Snapshot", ""), kSampleKey, {})
                    .endsWith("/Samples/late.png"));
    }

    void aRecordOfAnotherCopyOfTheProgramGivesWayToThisCopysSamples_data() {
        QTest::addColumn<QStringList>("recorded");  // relative to the test's folder
        QTest::addColumn<bool>("renewed");
        QTest::newRow("another copy's") << QStringList{"elsewhere/Samples/a.jpg"} << true;
        QTest::newRow("a folder below this one's")
            << QStringList{"program/Samples/deeper/a.jpg"} << true;
        QTest::newRow("one of this copy's, since deleted")
            << QStringList{"elsewhere/Samples/a.jpg", "program/Samples/gone.jpg"} << false;
    }

    void aRecordOfAnotherCopyOfTheProgramGivesWayToThisCopysSamples() {
        QFETCH(QStringList, recorded);
        QFETCH(bool, renewed);
        WindowFixture f;
        QDir().mkpath(f.programFolder + "/Samples");
        QFile(f.programFolder + "/Samples/mine.png").open(QIODevice::WriteOnly);
        QStringList paths;
        for (const QString& r : recorded) paths.append(f.dir.filePath(r));
        const QString record = ScrambleText(paths.join("|"), kSampleKey, {});
        f.settings.write("Snapshot", record);
        f.open();
        QCOMPARE(
            f.settings.read("Snapshot", ""),
            renewed ? ScrambleText(f.programFolder + "/Samples/mine.png", kSampleKey, {}) : record);
        QVERIFY(f.dialogs.messages.isEmpty());
    }
};

QTEST_MAIN(ListViewDragTest)
#include "ListViewDragTest.moc"
