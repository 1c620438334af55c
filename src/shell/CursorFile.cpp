#include "shell/CursorFile.h"

#include "shell/RuntimeError.h"

#include <QFile>
#include <QImage>
#include <QPixmap>

#include <cerrno>

namespace {

quint16 le16(const QByteArray& bytes, int offset) {
    return static_cast<quint16>(static_cast<quint8>(bytes[offset]) |
                                (static_cast<quint8>(bytes[offset + 1]) << 8));
}

}  // namespace

QCursor LoadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw RuntimeError::fromErrno(ENOENT, path.toStdString());
    }
    const QByteArray bytes = file.readAll();
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
