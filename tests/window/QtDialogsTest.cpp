#include "window/PointerOverride.h"
#include "window/QtDialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <optional>
#include <vector>

// The real open-file dialog shows the filter texts as given and matches their patterns.
class QtDialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void theFileDialogShowsTheTextsAndMatchesThePatterns() {
        Dialogs::OpenFilesRequest request;
        request.multiSelect = true;
        request.title = "Add File(s) - Hold Ctrl or Shift to select multiple files";
        request.filters = {"All Pictures (*.bmp;*.jpg)",
                           "*.bmp;*.jpg",
                           "Camera (*.heic;*.dng)",
                           "*.heic;*.dng",
                           "All Files (*.*)",
                           "*.*"};
        QFileDialog dialog;
        QtDialogs::configureFileDialog(dialog, request);
        QCOMPARE(dialog.windowTitle(), request.title);
        QCOMPARE(dialog.fileMode(), QFileDialog::ExistingFiles);
        QCOMPARE(dialog.nameFilters(), QStringList({"All Pictures (*.bmp;*.jpg)",
                                                    "Camera (*.heic;*.dng)", "All Files (*.*)"}));
        auto* model = dialog.findChild<QFileSystemModel*>();
        QVERIFY(model != nullptr);
        // *.jpg also shows the other JPEG names; the filter text stays as given.
        QTemporaryDir dir;
        for (const char* name :
             {"a.bmp", "b.jpg", "c.JPEG", "d.jpe", "e.png", "f.jpgx", "g.txt", "h.HEIC", "i.dng"}) {
            QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
        }
        QCOMPARE(QDir(dir.path()).entryList(model->nameFilters(), QDir::Files, QDir::Name),
                 QStringList({"a.bmp", "b.jpg", "c.JPEG", "d.jpe"}));

        auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
        QVERIFY(types != nullptr);
        // The model matches as the dialog shows: names in any case.
        QCOMPARE(model->filter() & QDir::CaseSensitive, QDir::Filters());
        QTest::keyClick(types, Qt::Key_Down);  // the user picks phones' and cameras' pictures
        QCOMPARE(model->nameFilters(), QStringList({"*.heic", "*.dng"}));
        QCOMPARE(QDir(dir.path()).entryList(model->nameFilters(), QDir::Files, QDir::Name),
                 QStringList({"h.HEIC", "i.dng"}));
        QTest::keyClick(types, Qt::Key_Down);  // the user picks "All Files (*.*)"
        QCOMPARE(types->currentIndex(), 2);
        QCOMPARE(model->nameFilters(), QStringList({"*"}));
    }

    // However short its text, a box leaves its title room in the frame beside the frame's
    // buttons.
    void aBoxIsWideEnoughForItsTitle() {
        for (const QString& title : {QStringLiteral("Tonvaler"),
                                     QStringLiteral("Application Error - a longer title here")}) {
            int width = 0;
            int titleWidth = 0;
            QTimer::singleShot(0, [&] {
                QWidget* box = QApplication::activeModalWidget();
                width = box->width();
                titleWidth = box->fontMetrics().horizontalAdvance(title);
                box->close();
            });
            QtDialogs dialogs;
            dialogs.messageBox("Done.", Dialogs::Style::Plain, title, QString());
            QVERIFY2(width >= titleWidth + 150,
                     qPrintable(QString("%1: %2").arg(title).arg(width)));
        }
    }

    // The arrow over a box shown while the window is busy; the batch may end while it is open
    // (its "Done." on top of it): the box keeps its arrow, and once closed no hourglass is left.
    void aBoxShownWhileTheWindowIsBusyShowsTheArrow_data() {
        QTest::addColumn<bool>("endsUnderTheBox");
        QTest::newRow("busy throughout") << false;
        QTest::newRow("no longer busy while the box is open") << true;
    }

    void aBoxShownWhileTheWindowIsBusyShowsTheArrow() {
        QFETCH(bool, endsUnderTheBox);
        auto busy = std::make_optional<PointerOverride>(Qt::WaitCursor);  // as the window's
        std::vector<Qt::CursorShape> shown;
        QTimer::singleShot(0, [&] {
            shown.push_back(QGuiApplication::overrideCursor()->shape());
            if (endsUnderTheBox) {
                busy.reset();
                shown.push_back(QGuiApplication::overrideCursor()->shape());
            }
            QApplication::activeModalWidget()->close();
        });
        QtDialogs dialogs;
        dialogs.messageBox("Done.", Dialogs::Style::Plain, "Tonvaler", QString());
        QVERIFY(!shown.empty());
        for (const Qt::CursorShape shape : shown) {
            QCOMPARE(shape, Qt::ArrowCursor);
        }
        if (endsUnderTheBox) {
            QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        } else {
            QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        }
    }
};

QTEST_MAIN(QtDialogsTest)
#include "QtDialogsTest.moc"
