#include "base/AppTitle.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QToolTip>

// The sliders, the output folder with its browse button, "Help", and the pointer shapes.
class FilterControlsTest : public QObject {
    Q_OBJECT

  private slots:
    void everySliderStepIsStoredAndShownAtTheNextStart() {
        WindowFixture f;
        Form1& w = f.open();
        w.Slider3->setFocus();
        QTest::keyClick(w.Slider3, Qt::Key_End);  // to the right end
        QCOMPARE(f.settings.read("Slider3", "absent"), QStringLiteral("200"));
        QTest::keyClick(w.Slider2, Qt::Key_Home);
        QCOMPARE(f.settings.read("Slider2", "absent"), QStringLiteral("0"));
        QTest::keyClick(w.Slider1, Qt::Key_Left);  // a small step
        QCOMPARE(f.settings.read("Slider1", "absent"), QStringLiteral("84"));
        QTest::keyClick(w.Slider4, Qt::Key_PageUp);  // a large step
        QCOMPARE(f.settings.read("Slider4", "absent"), QStringLiteral("60"));
        Form1& again = f.open();
        QCOMPARE(again.Slider3->value(), 200);
        QCOMPARE(again.Slider2->value(), 0);
        QCOMPARE(again.Slider1->value(), 84);
        QCOMPARE(again.Slider4->value(), 60);
    }

    void aSliderDraggedByMouseIsStored() {
        WindowFixture f;
        Form1& w = f.open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseClick(w.Slider2, Qt::LeftButton, {}, QPoint(w.Slider2->width() - 2, 10));
        QVERIFY(w.Slider2->value() != 60);
        QCOMPARE(f.settings.read("Slider2", "absent"), QString::number(w.Slider2->value()));
    }

    // Hovered or dragged, a slider shows its value above its handle, following it; the window
    // and its layout stay as they are.
    void aSliderShowsItsValueWhileHoveredOrDragged() {
        WindowFixture f;
        Form1& w = f.open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect frame = w.Frame2->geometry();
        const QPoint inside(w.Slider2->width() / 2, w.Slider2->height() / 2);
        QHoverEvent enter(QEvent::HoverEnter, QPointF(inside),
                          QPointF(w.Slider2->mapToGlobal(inside)), QPointF(-1, -1));
        QApplication::sendEvent(w.Slider2, &enter);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("60"));
        w.Slider2->setValue(20);
        QCOMPARE(QToolTip::text(), QStringLiteral("20"));
        QHoverEvent leave(QEvent::HoverLeave, QPointF(-1, -1), QPointF(-1, -1), QPointF(inside));
        QApplication::sendEvent(w.Slider2, &leave);
        QTRY_VERIFY(!QToolTip::isVisible());
        // Dragged by the mouse, away from the pointer's hover, it shows the value too.
        w.Slider3->setSliderDown(true);
        w.Slider3->setValue(90);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("90"));
        w.Slider3->setSliderDown(false);
        QTRY_VERIFY(!QToolTip::isVisible());
        QCOMPARE(w.Frame2->geometry(), frame);
    }

    void theBrowseButtonFillsTheField_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("field");
        QTest::newRow("the root keeps its one separator") << "/"
                                                          << "/";
        QTest::newRow("a folder gets one") << "/srv/pictures"
                                           << "/srv/pictures/";
    }

    void theBrowseButtonFillsTheField() {
        QFETCH(QString, chosen);
        QFETCH(QString, field);
        WindowFixture f;
        Form1& w = f.open();
        f.dialogs.folderAnswers.enqueue(chosen);
        QTest::mouseClick(w.PushButton7, Qt::LeftButton);
        QCOMPARE(f.dialogs.browses.size(), 1);
        QCOMPARE(f.dialogs.browses[0].prompt, QStringLiteral("Please select folder:"));
        QCOMPARE(f.settings.read("LastFolderDot", "absent"), chosen);
        QCOMPARE(w.Text1->text(), field);
        QCOMPARE(f.settings.read("Output Folder", "absent"), field);
    }

    void theBrowserOpensOnTheFolderChosenLast() {
        WindowFixture f;
        Form1& w = f.open();
        f.dialogs.folderAnswers.enqueue(f.dir.path());
        QTest::mouseClick(w.PushButton7, Qt::LeftButton);
        QTest::mouseClick(w.PushButton7, Qt::LeftButton);  // cancelled
        QCOMPARE(f.dialogs.browses[1].defaultAnswer, f.dir.path());
    }

    void cancellingTheBrowserChangesNothing() {
        WindowFixture f;
        f.settings.write("LastFolderDot", "/kept");
        Form1& w = f.open();
        const QString before = w.Text1->text();
        QTest::mouseClick(w.PushButton7, Qt::LeftButton);
        QCOMPARE(w.Text1->text(), before);
        QCOMPARE(f.settings.read("LastFolderDot", ""), QStringLiteral("/kept"));
        QCOMPARE(f.settings.read("Output Folder", ""), before);
        QVERIFY(f.dialogs.messages.isEmpty());
    }

    void helpShowsItsMessage() {
        WindowFixture f;
        Form1& w = f.open();
        QTest::mouseClick(w.PushButton6, Qt::LeftButton);
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(f.dialogs.messages[0].text,
                 QStringLiteral("You may need to experiment with the slider controls below in "
                                "order to get the desired black and white output.\r\rQuestions? "
                                "Please contact Team Kestrova at "
                                "https://www.kestrova.example/contact/"));
        QCOMPARE(f.dialogs.messages[0].style, Dialogs::Style::Plain);
        QCOMPARE(f.dialogs.messages[0].title, QStringLiteral("Tonvaler"));
        // The version, the one tonvaler-cli --version prints, below the text.
        QCOMPARE(f.dialogs.messages[0].note, QStringLiteral("Tonvaler " TONVALER_VERSION));
    }

    void thePointerFollowsTheMouse() {
        WindowFixture f;
        Form1& w = f.open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const auto moveOver = [](QWidget* target) {
            const QPointF at(3, 3);
            QMouseEvent move(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &move);
        };
        moveOver(w.PushButton1);
        QCOMPARE(w.pointer().mode(), PointerMode::Custom);
        QCOMPARE(w.cursor().shape(), Qt::PointingHandCursor);
        moveOver(w.Frame2);
        QCOMPARE(w.pointer().mode(), PointerMode::Default);
        moveOver(w.PushButton7);
        QCOMPARE(w.pointer().mode(), PointerMode::Custom);
        moveOver(w.Label8);  // no pointer handling of its own
        QCOMPARE(w.pointer().mode(), PointerMode::Custom);
        moveOver(w.Label3);
        QCOMPARE(w.pointer().mode(), PointerMode::Default);
        moveOver(w.PushButton3);
        moveOver(w.Text1);
        QCOMPARE(w.pointer().mode(), PointerMode::Default);
        // Busy: the hourglass stays over everything.
        w.pointer().setMode(PointerMode::Hourglass);
        moveOver(w.PushButton2);
        moveOver(w.Frame1);
        QCOMPARE(w.pointer().mode(), PointerMode::Hourglass);
        QCOMPARE(w.cursor().shape(), Qt::WaitCursor);
    }
};

QTEST_MAIN(FilterControlsTest)
#include "Form1FilterControlsTest.moc"
