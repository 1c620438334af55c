#include "convert/BatchPaths.h"

#include "shell/FileExists.h"
#include "shell/PathBytes.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

bool FolderExists(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    struct stat info {};
    return ::stat(PathBytes(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

QString GetFileName(const QString& path) {
    return path.mid(path.lastIndexOf(QDir::separator()) + 1);
}

QString ShortFilename(const QString& path) {
    return FileExists(path) ? path : QString();
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
