#include "shell/QtDialogs.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QTest>

// The real open-file dialog shows the filter texts as given and matches their patterns.
class QtDialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void theFileDialogShowsTheTextsAndMatchesThePatterns() {
        Dialogs::OpenFilesRequest request;
        request.multiSelect = true;
        request.title = "Add File(s) - Hold Ctrl or Shift to select multiple files";
        request.filters = {"All Pictures (*.bmp;*.jpg)", "*.bmp;*.jpg", "All Files (*.*)", "*.*"};
        QFileDialog dialog;
        QtDialogs::configureFileDialog(dialog, request);
        QCOMPARE(dialog.windowTitle(), request.title);
        QCOMPARE(dialog.fileMode(), QFileDialog::ExistingFiles);
        QCOMPARE(dialog.nameFilters(),
                 QStringList({"All Pictures (*.bmp;*.jpg)", "All Files (*.*)"}));
        auto* model = dialog.findChild<QFileSystemModel*>();
        QVERIFY(model != nullptr);
        QCOMPARE(model->nameFilters(), QStringList({"*.bmp", "*.jpg"}));

        auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
        QVERIFY(types != nullptr);
        QTest::keyClick(types, Qt::Key_Down);  // the user picks "All Files (*.*)"
        QCOMPARE(types->currentIndex(), 1);
        QCOMPARE(model->nameFilters(), QStringList({"*"}));
    }
};

QTEST_MAIN(QtDialogsTest)
#include "QtDialogsTest.moc"
