#include "base/FileExists.h"
#include "base/PathBytes.h"

#include <sys/stat.h>

bool FileExists(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    struct stat info {};
    return ::stat(PathBytes(path).constData(), &info) == 0;
}

bool FolderExists(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    struct stat info {};
    return ::stat(PathBytes(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

QString ShortFilename(const QString& path) {
    return FileExists(path) ? path : QString();
}

bool SameFile(const QString& a, const QString& b) {
    struct stat x {};
    struct stat y {};
    return ::stat(PathBytes(a).constData(), &x) == 0 && ::stat(PathBytes(b).constData(), &y) == 0 &&
           x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}
