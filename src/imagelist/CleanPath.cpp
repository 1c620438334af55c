#include "imagelist/CleanPath.h"

#include "base/FileExists.h"

#include <QDir>

QString CleanPath(const QString& path) {
    const QString one(QDir::separator());
    const QString two = one + one;
    if (!path.contains(two)) {
        return path;  // the common case, without a copy
    }
    // A single leading separator is an ordinary absolute path and stays single.
    if (!path.startsWith(two)) {
        return QString(path).replace(two, one);
    }
    qsizetype k = 1;
    while (k < path.size() && path.at(k) == QDir::separator()) {
        ++k;
    }
    return two + path.mid(k).replace(two, one);
}

QString JoinPath(const QString& folder, const QString& name) {
    return folder.endsWith(QDir::separator()) ? folder + name : folder + QDir::separator() + name;
}

QString NormalisedFolder(const QString& folder) {
    const QString clean = QDir::cleanPath(folder);
    // Where neither is there, nothing on disk reads differently from the text.
    if (clean == folder || clean.isEmpty() || SameFile(clean, folder) ||
        (!FileExists(clean) && !FileExists(folder))) {
        return clean.isEmpty() ? folder : clean;
    }
    QString kept = folder;
    while (kept.size() > 1 && kept.endsWith(QLatin1Char('/'))) {
        kept.chop(1);
    }
    return kept;
}
