#include "window/OneWindow.h"

#include "base/FileDescriptor.h"
#include "base/PathBytes.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// What a start sends: the magic, the length of what follows, then each path's bytes ended by
// a NUL (a byte no path holds). 2: the start confirms (kConfirmed); a window and a start of
// different versions refuse each other, and the start opens its own window.
constexpr char kMagic[8] = {'T', 'V', 'O', 'P', 'E', 'N', '2', '\0'};
constexpr qint64 kHeaderBytes = 16;
constexpr quint64 kMostBytes = quint64(64) << 20;
constexpr int kConnectMs = 1000;
// A start that waits longer than this for the lock finds a start stopped while holding it.
constexpr int kLockMs = 5000;
constexpr char kTaken = '\1';
// The start's answer to kTaken: it will not open a window of its own. Only then are its files
// added, so that a start that gave up waiting (a window stopped, busy) has them in one window.
constexpr char kConfirmed = '\2';
const char* const kHanded = "tonvalerHanded";

QByteArray MessageOf(const QStringList& paths) {
    QByteArray body;
    for (const QString& path : paths) {
        body += PathBytes(path);
        body += '\0';
    }
    QByteArray message(kMagic, sizeof kMagic);
    char length[8];
    qToLittleEndian<quint64>(static_cast<quint64>(body.size()), length);
    message.append(length, sizeof length);
    return message + body;
}

// Held while a start asks for the window and, finding none, begins to listen in its place.
// Without a lock file (a runtime folder not writable) the start goes on unserialised; a lock
// not had within kLockMs gives nothing (`locked` false).
FileDescriptor LockBeside(const QString& socketPath, bool& locked) {
    FileDescriptor fd(
        ::open(PathBytes(socketPath + ".lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    locked = true;
    if (fd.get() < 0) {
        return fd;
    }
    QDeadlineTimer deadline(kLockMs);
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired()) {
            locked = false;
            return FileDescriptor(-1);
        }
        QThread::msleep(10);
    }
    return fd;
}

}  // namespace

OneWindow::OneWindow(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(std::move(socketPath)) {}

OneWindow::~OneWindow() = default;

QString OneWindow::SocketPathFor(const QString& platform) {
    QString display = platform;
    if (platform == QLatin1String("xcb")) {
        // ":0.0" and ":0" name one display, as "localhost:10.0" and "localhost:10" do
        display = qEnvironmentVariable("DISPLAY").replace(QRegularExpression(R"((:\d+)\.\d+$)"),
                                                          QStringLiteral("\\1"));
    } else if (platform.startsWith(QLatin1String("wayland"))) {
        display = qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("wayland-0"));
    }
    // (":0" as "_0": a path that tools taking "kind:address" arguments can be given too)
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/tonvaler-window-") + display;
}

OneWindow::Start OneWindow::start(const QStringList& paths) {
    bool locked = false;
    FileDescriptor lock = LockBeside(socketPath_, locked);
    if (!locked) {
        std::fprintf(stderr,
                     "tonvaler: another start holds the way to the window; "
                     "opening another\n");
        return Start::Alone;
    }
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (socket.waitForConnected(kConnectMs)) {
        lock = FileDescriptor(-1);  // a window listens: the other starts need not wait for this one
        socket.write(MessageOf(paths));
        char answer = 0;
        while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(kAnswerMs)) {
        }
        if (socket.bytesToWrite() == 0 && socket.waitForReadyRead(kAnswerMs) &&
            socket.read(&answer, 1) == 1 && answer == kTaken && socket.write(&kConfirmed, 1) == 1 &&
            socket.waitForBytesWritten(kAnswerMs)) {
            return Start::HandedOver;
        }
        std::fprintf(stderr,
                     "tonvaler: the window that runs did not take the files; "
                     "opening another\n");
        return Start::Alone;
    }
    // A socket that does not answer in time (its backlog full) may be a live window's.
    if (socket.error() != QLocalSocket::ServerNotFoundError &&
        socket.error() != QLocalSocket::ConnectionRefusedError) {
        return Start::Alone;
    }
    // Nobody listens: a socket left behind by a window that ended without removing it.
    QLocalServer::removeServer(socketPath_);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketPath_)) {
        server_.reset();
        return Start::Alone;
    }
    connect(server_.get(), &QLocalServer::newConnection, this, &OneWindow::acceptOne);
    return Start::Listening;
}

void OneWindow::setReceiver(std::function<void(const QStringList&)> receiver) {
    receiver_ = std::move(receiver);
    for (const QStringList& paths : std::exchange(early_, {})) {
        receiver_(paths);
    }
}

void OneWindow::stopListening() {
    if (server_) {
        server_->close();  // removes the socket
    }
}

void OneWindow::acceptOne() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        // The confirmation may come with the end of the connection.
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            if (socket->isOpen()) {
                readFrom(socket);
            }
            socket->deleteLater();
        });
        readFrom(socket);
    }
}

void OneWindow::readFrom(QLocalSocket* socket) {
    const QVariant handed = socket->property(kHanded);
    if (handed.isValid()) {
        char confirmed = 0;
        if (socket->bytesAvailable() < 1 || socket->read(&confirmed, 1) != 1) {
            return;
        }
        socket->setProperty(kHanded, QVariant());
        socket->disconnectFromServer();
        if (confirmed == kConfirmed) {
            // Given from the event loop: the receiver may open boxes of its own.
            QTimer::singleShot(0, this, [this, paths = handed.toStringList()] {
                if (receiver_) {
                    receiver_(paths);
                } else {
                    early_.push_back(paths);
                }
            });
        }
        return;
    }
    if (socket->bytesAvailable() < kHeaderBytes) {
        return;
    }
    const QByteArray header = socket->peek(kHeaderBytes);
    const quint64 length = qFromLittleEndian<quint64>(header.constData() + sizeof kMagic);
    if (std::memcmp(header.constData(), kMagic, sizeof kMagic) != 0 || length > kMostBytes) {
        socket->abort();  // not one of ours
        return;
    }
    if (static_cast<quint64>(socket->bytesAvailable()) < kHeaderBytes + length) {
        return;
    }
    socket->skip(kHeaderBytes);
    const QByteArray body = socket->read(static_cast<qint64>(length));
    QStringList paths;
    for (const QByteArray& path : body.split('\0')) {
        if (!path.isEmpty()) {
            paths << PathText(path);
        }
    }
    socket->setProperty(kHanded, paths);
    socket->write(&kTaken, 1);
    socket->flush();
    readFrom(socket);  // the start's confirmation, if it came already
}
