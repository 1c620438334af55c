#include "engine/BatchPaths.h"

#include <QDir>
#include <QFile>

QString GetFileName(const QString& path) {
    return path.mid(path.lastIndexOf(QDir::separator()) + 1);
}

QString OutputFileName(const QString& sourceFileName, const QString& extension) {
    const qsizetype dot = sourceFileName.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot < 0 ? sourceFileName : sourceFileName.left(dot);
    return stem + QStringLiteral("-grayscale.") + extension;
}

QString OutputPath(const QString& outputFolder, const QString& sourcePath,
                   const QString& extension) {
    return outputFolder + QDir::separator() + OutputFileName(GetFileName(sourcePath), extension);
}
