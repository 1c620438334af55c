#include "base/ProgramFiles.h"

#include <QDir>
#include <QFileInfo>

QString ProgramFile(const QString& programFolder, const QString& name) {
    const QString beside = programFolder + QLatin1Char('/') + name;
    const QString installed =
        QDir::cleanPath(programFolder + QStringLiteral("/../share/tonvaler/") + name);
    return !QFileInfo::exists(beside) && QFileInfo::exists(installed) ? installed : beside;
}
