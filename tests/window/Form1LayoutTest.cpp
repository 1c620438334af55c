#include "base/AppTitle.h"
#include "imagelist/ImageList.h"
#include "support/WindowFixture.h"
#include "window/ImageListView.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>

// The window's controls, their texts and their places: twips of the layout divided by 15.
class Form1LayoutTest : public QObject {
    Q_OBJECT
    WindowFixture f;
    Form1* w = nullptr;

    static QRect px(int l, int t, int wd, int h) {
        return QRect(qRound(l / 15.0), qRound(t / 15.0), qRound(wd / 15.0), qRound(h / 15.0));
    }

  private slots:
    void initTestCase() { w = &f.open(); }

    void controls_data() {
        QTest::addColumn<QWidget*>("control");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry");
        const auto row = [](const char* name, QWidget* c, const char* text, QRect g) {
            QTest::newRow(name) << c << QString::fromUtf8(text) << g;
        };
        row("PushButton6", w->PushButton6, "Help", px(120, 120, 7800, 405));
        row("ListView1", w->ListView1, "", px(120, 630, 7800, 2070));
        row("PushButton1", w->PushButton1, "Add Image File(s)", px(120, 2790, 3840, 405));
        row("PushButton3", w->PushButton3, "Add All Image File(s) In Folder",
            px(4080, 2790, 3840, 405));
        row("PushButton4", w->PushButton4, "Clear List", px(120, 3300, 3840, 405));
        row("PushButton5", w->PushButton5, "Load Sample/Example Files", px(4080, 3300, 3840, 405));
        row("Frame1", w->Frame1, "Image Quality", px(120, 3735, 7800, 780));
        row("Slider1", w->Slider1, "", px(120, 240, 7560, 450));
        row("Frame2", w->Frame2, "Black Filter", px(120, 4575, 7800, 780));
        row("Slider2", w->Slider2, "", px(360, 240, 6915, 450));
        row("Label1", w->Label1, "0", px(120, 300, 255, 255));
        row("Label8", w->Label8, "80", px(7200, 300, 405, 255));
        row("Frame4", w->Frame4, "Gradient Filter", px(120, 5415, 7800, 780));
        row("Slider3", w->Slider3, "", px(360, 240, 6915, 450));
        row("Label2", w->Label2, "70", px(120, 300, 255, 255));
        row("Label3", w->Label3, "200", px(7200, 300, 405, 255));
        row("Frame5", w->Frame5, "Gray Filter", px(120, 6255, 7800, 780));
        row("Slider4", w->Slider4, "", px(360, 240, 6915, 450));
        row("Label13", w->Label13, "10", px(120, 300, 255, 255));
        row("Label4", w->Label4, "70", px(7200, 300, 405, 255));
        row("Frame3", w->Frame3, "Save Results To This Folder", px(120, 7080, 7800, 795));
        row("Text1", w->Text1, "", px(240, 300, 6660, 345));
        row("PushButton7", w->PushButton7, "...", px(6960, 300, 600, 345));
        row("PushButton2", w->PushButton2, "Start Converting", px(120, 8000, 7800, 405));
        row("ProgressBar1", w->ProgressBar1, "Progress Bar", px(120, 8520, 7800, 405));
    }

    void controls() {
        QFETCH(QWidget*, control);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        QCOMPARE(control->geometry(), geometry);
        if (auto* b = qobject_cast<QPushButton*>(control)) {
            QCOMPARE(b->text(), text);
            QCOMPARE(b->font().family(), QStringLiteral("Arial"));
            QCOMPARE(b->font().pointSizeF(), 11.25);
            QVERIFY(b->font().bold());
        } else if (auto* g = qobject_cast<QGroupBox*>(control)) {
            QCOMPARE(g->title(), text);
        } else if (auto* l = qobject_cast<QLabel*>(control)) {
            QCOMPARE(l->text(), text);
        } else if (auto* p = qobject_cast<QProgressBar*>(control)) {
            QCOMPARE(p->text(), text);
        }
    }

    void framesHoldTheirControls() {
        QCOMPARE(w->Slider1->parentWidget(), w->Frame1);
        for (QWidget* c : {static_cast<QWidget*>(w->Slider2), static_cast<QWidget*>(w->Label1),
                           static_cast<QWidget*>(w->Label8)}) {
            QCOMPARE(c->parentWidget(), w->Frame2);
        }
        QCOMPARE(w->Slider3->parentWidget(), w->Frame4);
        QCOMPARE(w->Slider4->parentWidget(), w->Frame5);
        QCOMPARE(w->Text1->parentWidget(), w->Frame3);
        QCOMPARE(w->PushButton7->parentWidget(), w->Frame3);
    }

    void sliders_data() {
        QTest::addColumn<QSlider*>("slider");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("large");
        QTest::addColumn<int>("small");
        QTest::addColumn<int>("initial");
        QTest::newRow("Slider1") << w->Slider1 << 1 << 100 << 5 << 1 << 85;
        QTest::newRow("Slider2") << w->Slider2 << 0 << 80 << 10 << 5 << 60;
        QTest::newRow("Slider3") << w->Slider3 << 70 << 200 << 10 << 5 << 180;
        QTest::newRow("Slider4") << w->Slider4 << 10 << 70 << 10 << 5 << 50;
    }

    void sliders() {
        QFETCH(QSlider*, slider);
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, large);
        QFETCH(int, small);
        QFETCH(int, initial);
        QCOMPARE(slider->minimum(), minimum);
        QCOMPARE(slider->maximum(), maximum);
        QCOMPARE(slider->pageStep(), large);
        QCOMPARE(slider->singleStep(), small);
        QCOMPARE(slider->value(), initial);
    }

    void window() {
        QCOMPARE(w->size(), QSize(536, 603));
        QCOMPARE(w->windowTitle(), QStringLiteral("Tonvaler Software"));
        QVERIFY(!w->windowIcon().isNull());
        QCOMPARE(AppTitle(), QStringLiteral("Tonvaler"));
        QCOMPARE(w->font().family(), QStringLiteral("Arial"));
        QCOMPARE(w->font().pointSizeF(), 9.0);
        QVERIFY(w->font().bold());
    }

    void imageListColumn() {
        QCOMPARE(w->imageList().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("Image File(s)"));
        QCOMPARE(w->ListView1->columnWidth(0), 467);
        QCOMPARE(w->ListView1->toolTip(), ImageListView::HoverTip);
        QCOMPARE(w->imageList().RowCount(), 0);
        QCOMPARE(w->ProgressBar1->value(), 0);
    }

    void focusOrderRunsTopToBottom() {
        QList<QWidget*> order;
        QWidget* c = w->PushButton6;
        for (int i = 0; i < 12; ++i) {
            order.append(c);
            c = c->nextInFocusChain();
            while (c->focusPolicy() == Qt::NoFocus || !c->isEnabled()) {
                c = c->nextInFocusChain();
            }
        }
        const QList<QWidget*> expected = {w->PushButton6, w->ListView1,   w->PushButton1,
                                          w->PushButton3, w->PushButton4, w->PushButton5,
                                          w->Slider1,     w->Slider2,     w->Slider3,
                                          w->Slider4,     w->Text1,       w->PushButton7};
        QCOMPARE(order, expected);
    }
};

QTEST_MAIN(Form1LayoutTest)
#include "Form1LayoutTest.moc"
