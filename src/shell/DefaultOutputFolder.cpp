#include "shell/DefaultOutputFolder.h"

#include "shell/RuntimeError.h"

#include <QDir>
#include <QStandardPaths>

QString DesktopFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

QString DefaultOutputFolder(const std::function<QString()>& desktopLookup) {
    const QString desktop = desktopLookup();
    if (desktop.isEmpty()) {
        throw RuntimeError(ErrorNumber::InvalidCall, "The desktop folder could not be found");
    }
    return QDir::toNativeSeparators(desktop) + QDir::separator();
}
