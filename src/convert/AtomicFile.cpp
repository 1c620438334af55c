#include "convert/AtomicFile.h"

#include "shell/RuntimeError.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// The process's file-creation mask, read without changing it (umask() would race with other
// threads creating files).
mode_t creationMask() {
    static const mode_t mask = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("Umask:", 0) == 0) {
                return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
            }
        }
        return static_cast<mode_t>(022);
    }();
    return mask;
}

RuntimeError failure(int errnoValue, const std::string& what, const QString& path) {
    const RuntimeError plain = RuntimeError::fromErrno(errnoValue, "");
    return RuntimeError(plain.number(),
                        what + " " + path.toStdString() + ": " + plain.description());
}

}  // namespace

void WriteFileAtomically(const QString& path, const std::uint8_t* data, std::size_t size,
                         WriteStep* failedAt) {
    const auto at = [failedAt](WriteStep step) {
        if (failedAt != nullptr) {
            *failedAt = step;
        }
    };
    const QFileInfo target(path);
    std::string temporary =
        (target.path() + QLatin1String("/.") + target.fileName()).toStdString() + ".XXXXXX" +
        kTemporarySuffix;
    const int fd = ::mkstemps(temporary.data(), static_cast<int>(std::strlen(kTemporarySuffix)));
    if (fd < 0) {
        at(WriteStep::Create);
        throw failure(errno, "Cannot create a file in the folder of", path);
    }
    const auto abandon = [&](int errnoValue, const char* what) {
        at(WriteStep::Write);
        ::close(fd);
        ::unlink(temporary.c_str());
        return failure(errnoValue, what, path);
    };
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw abandon(n < 0 ? errno : ENOSPC, "Cannot write");
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fchmod(fd, 0666 & ~creationMask()) != 0 || ::fsync(fd) != 0) {
        throw abandon(errno, "Cannot write");
    }
    if (::close(fd) != 0) {
        const int e = errno;
        ::unlink(temporary.c_str());
        at(WriteStep::Write);
        throw failure(e, "Cannot write", path);
    }
    if (::rename(temporary.c_str(), QFile::encodeName(path).constData()) != 0) {
        const int e = errno;
        ::unlink(temporary.c_str());
        at(WriteStep::Replace);
        throw failure(e, "Cannot replace", path);
    }
}
