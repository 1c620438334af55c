#include "shell/FileExists.h"
#include "shell/PathBytes.h"

#include <sys/stat.h>

bool FileExists(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    struct stat info {};
    return ::stat(PathBytes(path).constData(), &info) == 0;
}
