#include "shell/FileExists.h"

#include <sys/stat.h>

bool FileExists(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    struct stat info {};
    return ::stat(path.toLocal8Bit().constData(), &info) == 0;
}
