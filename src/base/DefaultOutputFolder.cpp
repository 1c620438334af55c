#include "base/DefaultOutputFolder.h"

#include "base/RuntimeError.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString DesktopFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

QString PicturesFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
}

QString HomeFolder() {
    return QDir::homePath();
}

QString DefaultOutputFolder(const std::function<QString()>& desktopLookup,
                            const std::function<QString()>& picturesLookup,
                            const std::function<QString()>& homeLookup) {
    const QString desktop = desktopLookup();
    if (desktop.isEmpty()) {
        throw RuntimeError(ErrorNumber::InvalidCall, "The desktop folder could not be found");
    }
    QString folder = desktop;
    if (!QFileInfo(folder).isDir()) {
        const QString pictures = picturesLookup();
        folder = !pictures.isEmpty() && QFileInfo(pictures).isDir() ? pictures : homeLookup();
    }
    return QDir::toNativeSeparators(folder) + QDir::separator();
}
