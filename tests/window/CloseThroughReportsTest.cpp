#include "window/CloseThroughReports.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

// Where the window shows on no X server (Wayland; offscreen here), it opens and closes as ever.
class CloseThroughReportsTest : public QObject {
    Q_OBJECT

  private slots:
    void withoutXTheWindowClosesAsEver() {
        QWidget window;
        window.show();
        CloseThroughReports closeThroughReports(window);
        qApp->installNativeEventFilter(&closeThroughReports);
        QVERIFY(window.close());
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(CloseThroughReportsTest)
#include "CloseThroughReportsTest.moc"
