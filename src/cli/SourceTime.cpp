#include "cli/SourceTime.h"

#include "base/PathBytes.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

QString systemReason(int errnoValue) {
    return QString::fromLocal8Bit(std::strerror(errnoValue));
}

}  // namespace

QString GiveSourceTime(const QString& source, const std::optional<FileStamp>& read,
                       const QString& output) {
    // The time as the source holds it, rather than from the stamp's nanoseconds, which cannot
    // hold a time more than 292 years from 1970.
    struct stat now {};
    struct timespec time {};
    if (::stat(PathBytes(source).constData(), &now) == 0 &&
        (!read || PictureFile::stampOf(now).sameContentAs(*read))) {
        time = now.st_mtim;
    } else if (read) {
        constexpr std::int64_t kNanoseconds = 1000000000;
        const std::int64_t seconds =
            read->modified / kNanoseconds - (read->modified % kNanoseconds < 0 ? 1 : 0);
        time.tv_sec = static_cast<time_t>(seconds);
        time.tv_nsec = static_cast<long>(read->modified - seconds * kNanoseconds);
    } else {
        return QStringLiteral("cannot read the time of ") + source + QStringLiteral(": ") +
               systemReason(errno);
    }
    const struct timespec times[2] = {{0, UTIME_OMIT}, time};
    // Not through a link: the run named a file of its own there.
    if (::utimensat(AT_FDCWD, PathBytes(output).constData(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        return QStringLiteral("cannot give ") + output + QStringLiteral(" its source's time: ") +
               systemReason(errno);
    }
    // Some file systems (FAT through FUSE) answer that they did and keep the time of writing.
    struct stat given {};
    if (::lstat(PathBytes(output).constData(), &given) != 0 || !KeptTime(given.st_mtim, time)) {
        return QStringLiteral("cannot give ") + output +
               QStringLiteral(" its source's time: its file system did not keep it");
    }
    return {};
}

bool KeptTime(const struct timespec& kept, const struct timespec& wanted) {
    // A file system cuts a time down to its own step (nanoseconds, NTFS's 100, exFAT's 10 ms,
    // whole seconds, FAT's two) and never keeps one near it: a source changed a second after the
    // time its output was given must not pass for that source.
    if (kept.tv_sec == wanted.tv_sec) {
        for (const long step : {1L, 100L, 1000L, 10000000L, 1000000000L}) {
            if (kept.tv_nsec == wanted.tv_nsec - wanted.tv_nsec % step) {
                return true;
            }
        }
        return false;
    }
    const time_t odd = wanted.tv_sec % 2 != 0 ? 1 : 0;  // -3 % 2 is -1: 1 down to -4
    return kept.tv_nsec == 0 && kept.tv_sec == wanted.tv_sec - odd;
}
