#include "window/OneWindow.h"

#include "base/FileDescriptor.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QtEndian>

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// What a start sends: the magic, the length of what follows, then each path's bytes ended by
// a NUL (a byte no path holds).
constexpr char kMagic[8] = {'T', 'V', 'O', 'P', 'E', 'N', '1', '\0'};
constexpr qint64 kHeaderBytes = 16;
constexpr quint64 kMostBytes = quint64(64) << 20;
constexpr int kConnectMs = 1000;
constexpr char kTaken = '\1';

QByteArray MessageOf(const QStringList& paths) {
    QByteArray body;
    for (const QString& path : paths) {
        body += QFile::encodeName(path);
        body += '\0';
    }
    QByteArray message(kMagic, sizeof kMagic);
    char length[8];
    qToLittleEndian<quint64>(static_cast<quint64>(body.size()), length);
    message.append(length, sizeof length);
    return message + body;
}

// Held while a start asks for the window and, finding none, begins to listen in its place.
FileDescriptor LockBeside(const QString& socketPath) {
    FileDescriptor fd(::open(QFile::encodeName(socketPath + ".lock").constData(),
                             O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (fd.get() >= 0) {
        while (::flock(fd.get(), LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    return fd;  // without a lock (a runtime folder not writable) the start goes on unserialised
}

}  // namespace

OneWindow::OneWindow(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(std::move(socketPath)) {}

OneWindow::~OneWindow() = default;

QString OneWindow::SocketPathFor(const QString& platform) {
    QString display = platform;
    if (platform == QLatin1String("xcb")) {
        // ":0.0" and ":0" name one display
        display = qEnvironmentVariable("DISPLAY").remove(QRegularExpression(R"((?<=:\d)\.\d+$)"));
    } else if (platform.startsWith(QLatin1String("wayland"))) {
        display = qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("wayland-0"));
    }
    // (":0" as "_0": a path that tools taking "kind:address" arguments can be given too)
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/tonvaler-window-") + display;
}

OneWindow::Start OneWindow::start(const QStringList& paths) {
    const FileDescriptor lock = LockBeside(socketPath_);
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (socket.waitForConnected(kConnectMs)) {
        socket.write(MessageOf(paths));
        char answer = 0;
        while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(kAnswerMs)) {
        }
        if (socket.bytesToWrite() == 0 && socket.waitForReadyRead(kAnswerMs) &&
            socket.read(&answer, 1) == 1 && answer == kTaken) {
            return Start::HandedOver;
        }
        std::fprintf(stderr,
                     "tonvaler: the window that runs did not take the files; "
                     "opening another\n");
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
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        readFrom(socket);
    }
}

void OneWindow::readFrom(QLocalSocket* socket) {
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
            paths << QFile::decodeName(path);
        }
    }
    socket->write(&kTaken, 1);
    socket->flush();
    socket->disconnectFromServer();
    // Given from the event loop: the receiver may open boxes of its own.
    QTimer::singleShot(0, this, [this, paths] {
        if (receiver_) {
            receiver_(paths);
        } else {
            early_.push_back(paths);
        }
    });
}
