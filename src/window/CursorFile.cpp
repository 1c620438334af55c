#include "window/CursorFile.h"

#include "base/FileDescriptor.h"
#include "base/RuntimeError.h"

#include <QFile>
#include <QImage>
#include <QPixmap>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The file's bytes, or the system's own cause: "Is a directory", "Permission denied".
QByteArray readAll(const QString& path) {
    // Non-blocking, so that a pipe of that name does not wait for a writer.
    const FileDescriptor file(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) {
        throw RuntimeError::fromErrno(errno, path.toStdString());
    }
    constexpr qsizetype kMostACursorTakes = 1 << 20;
    QByteArray bytes;
    char chunk[16384];
    for (;;) {
        const ssize_t n = ::read(file.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw RuntimeError::fromErrno(errno, path.toStdString());
        }
        if (n == 0 || bytes.size() > kMostACursorTakes) {
            return bytes;
        }
        bytes.append(chunk, n);
    }
}

quint16 le16(const QByteArray& bytes, int offset) {
    return static_cast<quint16>(static_cast<quint8>(bytes[offset]) |
                                (static_cast<quint8>(bytes[offset + 1]) << 8));
}

}  // namespace

QCursor LoadCursorFile(const QString& path) {
    const QByteArray bytes = readAll(path);
    QImage image;
    // Qt's icon reader takes cursor files when told the format; it skips the hot spot.
    if (!image.loadFromData(bytes, "cur") && !image.loadFromData(bytes, "ico") &&
        !image.loadFromData(bytes)) {
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           "Invalid picture: " + path.toStdString() + " is not a cursor");
    }
    // The header: reserved (2), type (2: 1 icon, 2 cursor), count (2), then the first entry,
    // whose fields at 4 and 6 are the hot spot in a cursor.
    int hotX = -1;
    int hotY = -1;
    if (bytes.size() >= 22 && le16(bytes, 2) == 2) {
        hotX = le16(bytes, 10);
        hotY = le16(bytes, 12);
    }
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}
