#include "window/LiteralProgressBar.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

#include <memory>

// The bar drawn from its kept part looks as the style's own drawing of the whole bar, whatever
// changed since: the value, the text (which moves the groove in some styles), the state.
class LiteralProgressBarTest : public QObject {
    Q_OBJECT

    // The style's drawing of the whole bar, with the same literal text.
    struct StyleDrawn : QProgressBar {
        QString text() const override { return format(); }
    };

    static int worstDifference(const QImage& a, const QImage& b) {
        int worst = a.size() == b.size() ? 0 : 255;
        for (int y = 0; worst < 255 && y < a.height(); ++y) {
            for (int x = 0; x < a.width(); ++x) {
                const QRgb p = a.pixel(x, y);
                const QRgb q = b.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(p) - qRed(q)),
                                  std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
            }
        }
        return worst;
    }

  private slots:
    void looksAsTheStyleDrawsIt_data() {
        QTest::addColumn<QString>("style");
        QTest::addColumn<int>("alignment");
        for (const char* style : {"Fusion", "Windows"}) {
            QTest::addRow("%s centred", style) << style << int(Qt::AlignCenter);
            QTest::addRow("%s left", style) << style << int(Qt::AlignLeft);
        }
    }

    void looksAsTheStyleDrawsIt() {
        QFETCH(QString, style);
        QFETCH(int, alignment);
        const std::unique_ptr<QStyle> drawer(QStyleFactory::create(style));
        QVERIFY(drawer);
        QWidget ours;
        QWidget theirs;
        LiteralProgressBar bar(&ours);
        StyleDrawn plain;
        plain.setParent(&theirs);
        for (QProgressBar* b :
             {static_cast<QProgressBar*>(&bar), static_cast<QProgressBar*>(&plain)}) {
            b->setStyle(drawer.get());
            b->setGeometry(8, 8, 520, 27);
            b->setAlignment(Qt::Alignment(alignment));
        }
        struct Step {
            int value;
            const char* text;
            bool enabled;
        };
        const Step steps[] = {{0, "Progress Bar", true},
                              {12, "Processing: 100%p.png", true},
                              {12, "Processing: a much longer name of a picture.jpg", true},
                              {13, "Processing: b.jpg", true},
                              {13, "Processing: b.jpg", false},
                              {100, "Processing: c.jpg", true}};
        for (const Step& step : steps) {
            for (QProgressBar* b :
                 {static_cast<QProgressBar*>(&bar), static_cast<QProgressBar*>(&plain)}) {
                b->setValue(step.value);
                b->setFormat(QString::fromUtf8(step.text));
                b->setEnabled(step.enabled);
            }
            // Antialiased corners may round one level apart through the kept picture.
            QVERIFY2(worstDifference(bar.grab().toImage(), plain.grab().toImage()) <= 1, step.text);
        }
    }
};

QTEST_MAIN(LiteralProgressBarTest)
#include "LiteralProgressBarTest.moc"
