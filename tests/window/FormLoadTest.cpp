#include "base/ErrorReport.h"
#include "base/TrapLabels.h"
#include "support/TestPictures.h"
#include "support/WindowFixture.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTest>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

}  // namespace

class FormLoadTest : public QObject {
    Q_OBJECT

  private slots:
    void anEmptyStoreGivesTheDefaultsAndStoresOnlyTheOutputFolder() {
        WindowFixture f;
        Form1& w = f.open();
        QCOMPARE(w.Slider1->value(), 85);
        QCOMPARE(w.Slider2->value(), 60);
        QCOMPARE(w.Slider3->value(), 180);
        QCOMPARE(w.Slider4->value(), 50);
        QCOMPARE(w.Text1->text(), f.desktop + "/");
        QCOMPARE(f.settings.read("Output Folder", "absent"), f.desktop + "/");
        for (const char* key : {"Slider1", "Slider2", "Slider3", "Slider4"}) {
            QCOMPARE(f.settings.read(key, "absent"), QStringLiteral("absent"));
        }
        QVERIFY(f.dialogs.messages.isEmpty());
        QVERIFY(!w.customCursor().has_value());
        QVERIFY(w.styleSheet().isEmpty());
    }

    void storedValuesAreRestored() {
        WindowFixture f;
        f.settings.write("Slider1", "1");
        f.settings.write("Slider2", "0");
        f.settings.write("Slider3", "200");
        f.settings.write("Slider4", "10");
        f.settings.write("Output Folder", "/half/typed");
        Form1& w = f.open();
        QCOMPARE(w.Slider1->value(), 1);
        QCOMPARE(w.Slider2->value(), 0);
        QCOMPARE(w.Slider3->value(), 200);
        QCOMPARE(w.Slider4->value(), 10);
        QCOMPARE(w.Text1->text(), QStringLiteral("/half/typed"));
        QVERIFY(f.dialogs.messages.isEmpty());
    }

    void aBadStoredSliderIsReportedAtItsLine_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("description");
        QTest::newRow("not a number") << "Slider2"
                                      << "abc" << 134 << "Type mismatch: \"abc\" is not a number";
        QTest::newRow("empty") << "Slider1"
                               << "" << 132 << "Type mismatch: \"\" is not a number";
        QTest::newRow("above the range")
            << "Slider1"
            << "101" << 132 << "Invalid property value: Slider1 101 is outside 1 to 100";
        QTest::newRow("below the range")
            << "Slider3"
            << "69" << 136 << "Invalid property value: Slider3 69 is outside 70 to 200";
        QTest::newRow("too big") << "Slider4"
                                 << "99999999999" << 138
                                 << "Overflow: 99999999999 does not fit a 32-bit integer";
    }

    void aBadStoredSliderIsReportedAtItsLine() {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(int, line);
        QFETCH(QString, description);
        WindowFixture f;
        f.settings.write(key, stored);
        f.settings.write("Slider4", key == "Slider4" ? stored : "20");
        f.settings.write("Output Folder", "/kept/");
        Form1& w = f.open();
        QCOMPARE(f.dialogs.reports(),
                 QStringList{ErrorReportText(description, TrapLabel::Form_Load, line)});
        const QList<QSlider*> sliders = {w.Slider1, w.Slider2, w.Slider3, w.Slider4};
        const QList<int> initial = {85, 60, 180, 50};
        const int bad = key.right(1).toInt() - 1;
        QCOMPARE(sliders[bad]->value(), initial[bad]);
        if (key != "Slider4") {
            QCOMPARE(w.Slider4->value(), 20);  // the later keys are still read
        }
        QCOMPARE(w.Text1->text(), QStringLiteral("/kept/"));
    }

    void aFailedDesktopLookupLeavesTheFieldEmptyEvenWhenAFolderIsStored() {
        WindowFixture f;
        f.desktopLookup = [] { return QString(); };
        f.settings.write("Output Folder", "/stored/");
        Form1& w = f.open();
        QCOMPARE(f.dialogs.reports(),
                 QStringList{ErrorReportText("The desktop folder could not be found",
                                             TrapLabel::Form_Load, 140)});
        QCOMPARE(w.Text1->text(), QString());
        QCOMPARE(f.settings.read("Output Folder", ""), QStringLiteral("/stored/"));
    }

    void theHandCursorIsLoadedWhenPresent() {
        WindowFixture f;
        writeFile(f.programFolder + "/HAND-M.CUR", IconFileBytes(Qt::black, QPoint(5, 3)));
        Form1& w = f.open();
        QVERIFY(f.dialogs.messages.isEmpty());
        QVERIFY(w.customCursor().has_value());
        QCOMPARE(w.customCursor()->hotSpot(), QPoint(5, 3));
        QCOMPARE(w.customCursor()->pixmap().size(), QSize(32, 32));
        w.pointer().setMode(PointerMode::Custom);
        QCOMPARE(w.cursor().hotSpot(), QPoint(5, 3));
    }

    void withoutAHandCursorTheCustomModeShowsThePointingHand() {
        WindowFixture f;
        Form1& w = f.open();
        w.pointer().setMode(PointerMode::Custom);
        QCOMPARE(w.cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        w.pointer().setMode(PointerMode::Hourglass);
        QCOMPARE(w.cursor().shape(), Qt::WaitCursor);
        // Over every control too, the output field's text pointer among them.
        QVERIFY(QGuiApplication::overrideCursor() != nullptr);
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        w.pointer().setMode(PointerMode::Default);
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        w.pointer().setMode(PointerMode::Hourglass);
        f.window.reset();  // a window closed while busy leaves no hourglass behind
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    void aHandCursorThatCannotBeLoadedIsReportedWithItsCauseAndStartUpGoesOn_data() {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<QString>("cause");
        QTest::newRow("not a cursor") << false << "Invalid picture: %1 is not a cursor";
        QTest::newRow("a folder of that name") << true << "Is a directory: %1";
    }

    void aHandCursorThatCannotBeLoadedIsReportedWithItsCauseAndStartUpGoesOn() {
        QFETCH(bool, folder);
        QFETCH(QString, cause);
        WindowFixture f;
        const QString path = f.programFolder + "/HAND-M.CUR";
        if (folder) {
            QVERIFY(QDir().mkpath(path));
        } else {
            writeFile(path, "not a cursor");
        }
        Form1& w = f.open();
        QCOMPARE(f.dialogs.reports(),
                 QStringList{ErrorReportText(cause.arg(path), TrapLabel::Form_Load, 108)});
        QVERIFY(!w.customCursor().has_value());
        QCOMPARE(w.Text1->text(), f.desktop + "/");
    }

    void theSkinIsAppliedWhenPresent() {
        WindowFixture f;
        writeFile(f.programFolder + "/x/o.cjs", "QPushButton { color: rgb(1, 2, 3); }");
        Form1& w = f.open();
        QVERIFY(f.dialogs.messages.isEmpty());
        QCOMPARE(w.styleSheet(), QStringLiteral("QPushButton { color: rgb(1, 2, 3); }"));
        const QColor face = w.palette().color(QPalette::Button);
        QCOMPARE(w.palette().color(QPalette::Window), face);
        QVERIFY(w.Label1->autoFillBackground());
    }

    void aSkinFolderNamedLikeTheFileIsNoSkin() {
        WindowFixture f;
        QDir().mkpath(f.programFolder + "/x/o.cjs");
        Form1& w = f.open();
        QVERIFY(f.dialogs.messages.isEmpty());
        QVERIFY(w.styleSheet().isEmpty());
    }

    void oneStartInAHundredVisitsTheHomePage_data() {
        QTest::addColumn<int>("draw");
        QTest::addColumn<bool>("visits");
        QTest::newRow("1") << 1 << false;
        QTest::newRow("6") << 6 << false;
        QTest::newRow("7") << 7 << true;
        QTest::newRow("100") << 100 << false;
    }

    void oneStartInAHundredVisitsTheHomePage() {
        QFETCH(int, draw);
        QFETCH(bool, visits);
        WindowFixture f;
        f.dialogs.draw = draw;
        f.open();
        QCOMPARE(f.dialogs.openedUrls.size(), visits ? 1 : 0);
        if (visits) {
            QCOMPARE(f.dialogs.openedUrls[0].host(), QStringLiteral("www.kestrova.example"));
        }
    }

    void anUnwritableStoreNeverEndsTheProgram() {
        WindowFixture f;
        writeFile(f.dir.filePath("blocker"), "a file where the store's folder should be");
        QSettingsStore unwritable(f.dir.filePath("blocker/Kestrova.ini"));
        Form1 w(WindowServices{f.dialogs, unwritable, f.programFolder, f.desktopLookup});
        QCOMPARE(w.Text1->text(), f.desktop + "/");
        QCOMPARE(w.Slider3->value(), 180);
        QTest::keyClicks(w.Text1, "x");
        QCOMPARE(w.Text1->text(), f.desktop + "/x");
        // Only the trapped steps that write say so: the sample record, tried twice. The field's
        // keystrokes have no trap and say nothing.
        const QString cause =
            "Cannot write the settings file " + f.dir.filePath("blocker/Kestrova.ini");
        QCOMPARE(f.dialogs.reports(),
                 QStringList({ErrorReportText(cause, TrapLabel::Form_Load, 110),
                              ErrorReportText(cause, TrapLabel::Form_Load, 126)}));
    }

    void typingStoresEveryIntermediateText() {
        WindowFixture f;
        Form1& w = f.open();
        w.Text1->clear();
        QTest::keyClicks(w.Text1, "/o");
        QCOMPARE(f.settings.read("Output Folder", ""), QStringLiteral("/o"));
        QTest::keyClick(w.Text1, Qt::Key_Backspace);
        QCOMPARE(f.settings.read("Output Folder", "absent"), QStringLiteral("/"));
    }
};

QTEST_MAIN(FormLoadTest)
#include "FormLoadTest.moc"
