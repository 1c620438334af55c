#include "base/PathBytes.h"
#include "window/OneWindow.h"

#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <optional>

// A later start runs in another process at the same moment as the window; here in another
// thread, which blocks in the same calls while the window's event loop goes on.
class OneWindowTest : public QObject {
    Q_OBJECT

    struct LaterStart {
        std::atomic<bool> ended{false};
        OneWindow::Start result{};
        std::unique_ptr<QThread> thread;
        LaterStart(const QString& socketPath, const QStringList& paths)
            : thread(QThread::create([this, socketPath, paths] {
                  result = OneWindow(socketPath).start(paths);
                  ended = true;
              })) {
            thread->start();
        }
        ~LaterStart() { thread->wait(); }
    };

    QTemporaryDir runtime_;

  private slots:
    void initTestCase() { qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8()); }

    void oneDisplayHasOneSocket_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("same");
        QTest::newRow("screen 0") << ":0.0"
                                  << ":0" << true;
        QTest::newRow("display 10") << ":10.0"
                                    << ":10" << true;
        QTest::newRow("forwarded") << "localhost:10.0"
                                   << "localhost:10" << true;
        QTest::newRow("1 and 10") << ":1"
                                  << ":10" << false;
        QTest::newRow("other host") << "host:0"
                                    << ":0" << false;
    }
    void oneDisplayHasOneSocket() {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, same);
        qputenv("DISPLAY", first.toUtf8());
        const QString firstPath = OneWindow::SocketPathFor(QStringLiteral("xcb"));
        qputenv("DISPLAY", second.toUtf8());
        QCOMPARE(firstPath == OneWindow::SocketPathFor(QStringLiteral("xcb")), same);
    }

    // A start that stopped waiting for the window opened its own: the window, going on later,
    // must not add the same files. A start handed over has its names to the byte.
    void eachStartsFilesAreAddedOnceAsTheyWere() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("window"));
        OneWindow window(path);
        QCOMPARE(window.start({}), OneWindow::Start::Listening);
        QList<QStringList> added;
        window.setReceiver([&](const QStringList& paths) { added << paths; });

        QByteArray message("TVOPEN2\0", 8);
        const QByteArray body("/given/up.png\0", 14);
        char length[8];
        qToLittleEndian<quint64>(body.size(), length);
        message.append(length, 8).append(body);
        QLocalSocket gaveUp;
        gaveUp.connectToServer(path);
        QVERIFY(gaveUp.waitForConnected(1000));
        gaveUp.write(message);
        QVERIFY(gaveUp.waitForBytesWritten(1000));
        gaveUp.abort();

        const QString handed = PathText("/handed/caf\xE9.png");  // not UTF-8: kept as it is
        LaterStart later(path, {handed});
        QTRY_VERIFY(later.ended);
        QCOMPARE(later.result, OneWindow::Start::HandedOver);
        QTRY_COMPARE(added, QList<QStringList>{{handed}});
        QTest::qWait(200);
        QCOMPARE(added.size(), 1);
    }

    // A start stopped (^Z) while it holds the lock must not keep the others waiting for ever.
    void aStartStoppedWithTheLockHoldsUpNoOther() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("window"));
        const int stopped = ::open(QFile::encodeName(path + ".lock").constData(),
                                   O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(::flock(stopped, LOCK_EX) == 0);
        struct Release {
            int fd;
            ~Release() { ::close(fd); }  // before the start is joined
        };
        std::optional<LaterStart> later;
        Release release{stopped};
        later.emplace(path, QStringList{QStringLiteral("/a.png")});
        QTRY_VERIFY_WITH_TIMEOUT(later->ended, 10000);
        QCOMPARE(later->result, OneWindow::Start::Alone);
    }
};

QTEST_MAIN(OneWindowTest)
#include "OneWindowTest.moc"
