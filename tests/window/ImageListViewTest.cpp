#include "imagelist/ImageList.h"
#include "support/WindowFixture.h"
#include "window/ImageListView.h"

#include <QPushButton>
#include <QTest>

// Removing rows from the window: Delete, double-click and "Clear List".
class ImageListViewTest : public QObject {
    Q_OBJECT
    WindowFixture f;
    Form1* w = nullptr;
    ImageList* list = nullptr;

    QStringList rows() const {
        QStringList texts;
        for (int i = 1; i <= list->RowCount(); ++i) {
            texts.append(list->RowText(i));
        }
        return texts;
    }
    void doubleClickRow(int position) {
        const QRect r = w->ListView1->visualRect(list->index(position - 1));
        QTest::mouseDClick(w->ListView1->viewport(), Qt::LeftButton, {}, r.center());
    }

  private slots:
    void initTestCase() {
        w = &f.open();
        list = &w->imageList();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }

    void init() {
        w->pointer().setMode(PointerMode::Default);
        list->ClearImageList();
        list->AddImagePaths({"/a.jpg", "/b.jpg", "/c.jpg"});
    }

    void theDeleteKeyRemovesTheSelectedRowWhateverTheModifiers_data() {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::newRow("plain") << Qt::KeyboardModifiers();
        QTest::newRow("shift") << Qt::KeyboardModifiers(Qt::ShiftModifier);
        QTest::newRow("ctrl") << Qt::KeyboardModifiers(Qt::ControlModifier);
        QTest::newRow("alt") << Qt::KeyboardModifiers(Qt::AltModifier);
    }

    void theDeleteKeyRemovesTheSelectedRowWhateverTheModifiers() {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        list->SelectRow(2);
        QTest::keyClick(w->ListView1, Qt::Key_Delete, modifiers);
        QCOMPARE(rows(), QStringList({"/a.jpg", "/c.jpg"}));
    }

    void otherKeysRemoveNothing() {
        list->SelectRow(2);
        QTest::keyClick(w->ListView1, Qt::Key_Backspace);
        QTest::keyClick(w->ListView1, Qt::Key_X);
        QCOMPARE(list->RowCount(), 3);
    }

    void aDoubleClickRemovesTheRow() {
        doubleClickRow(1);
        QCOMPARE(rows(), QStringList({"/b.jpg", "/c.jpg"}));
    }

    void nothingIsRemovedWhileBusy() {
        list->SelectRow(1);
        w->pointer().setMode(PointerMode::Hourglass);
        QTest::keyClick(w->ListView1, Qt::Key_Delete);
        doubleClickRow(1);
        QTest::mouseClick(w->PushButton4, Qt::LeftButton);
        QCOMPARE(list->RowCount(), 3);
        w->pointer().setMode(PointerMode::Default);
        QTest::keyClick(w->ListView1, Qt::Key_Delete);
        QCOMPARE(list->RowCount(), 2);
    }

    void deleteOnAnEmptyListDoesNothing() {
        list->ClearImageList();
        QTest::keyClick(w->ListView1, Qt::Key_Delete);
        QTest::mouseDClick(w->ListView1->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(list->RowCount(), 0);
        QVERIFY(f.dialogs.messages.isEmpty());
    }

    void clearListEmptiesTheList() {
        QTest::mouseClick(w->PushButton4, Qt::LeftButton);
        QCOMPARE(list->RowCount(), 0);
        QTest::mouseClick(w->PushButton4, Qt::LeftButton);
        QCOMPARE(list->RowCount(), 0);
        QVERIFY(f.dialogs.messages.isEmpty());
    }

    void aHundredThousandRowsShowAndGo() {
        QStringList many;
        for (int i = 0; i < 100000; ++i) {
            many.append(QString("/pics/%1.jpg").arg(i));
        }
        list->AddImagePaths(many);
        w->ListView1->scrollToBottom();
        QTest::qWait(1);
        list->SelectRow(list->RowCount());
        QTest::keyClick(w->ListView1, Qt::Key_Delete);
        QCOMPARE(list->RowCount(), 100002);
        QCOMPARE(list->RowText(100002), QStringLiteral("/pics/99998.jpg"));
        QTest::mouseClick(w->PushButton4, Qt::LeftButton);
        QCOMPARE(list->RowCount(), 0);
    }

    void addImageFilesAppendsTheChosenFiles() {
        f.dialogs.fileAnswers.enqueue(QString("/p") + QChar(0) + "x.png" + QChar(0) + "y.png");
        QTest::mouseClick(w->PushButton1, Qt::LeftButton);
        QCOMPARE(rows(), QStringList({"/a.jpg", "/b.jpg", "/c.jpg", "/p/x.png", "/p/y.png"}));
    }
};

QTEST_MAIN(ImageListViewTest)
#include "ImageListViewTest.moc"
