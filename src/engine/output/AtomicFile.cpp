#include "engine/output/AtomicFile.h"

#include "base/PathBytes.h"
#include "base/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>

namespace {

RuntimeError failure(int errnoValue, const std::string& what, const QString& path) {
    const RuntimeError plain = RuntimeError::fromErrno(errnoValue, "");
    return RuntimeError(plain.number(),
                        what + " " + path.toStdString() + ": " + plain.description(),
                        plain.description());
}

// The start of the target's name, whole characters of at most 64 bytes: enough to tell whose
// temporary a file is, short enough that a target of the longest name a folder takes (255
// bytes) still has a temporary name beside it.
std::string temporaryStem(const QString& fileName) {
    constexpr qsizetype kMostBytes = 64;
    QByteArray name = PathBytes(fileName);
    if (name.size() > kMostBytes) {
        qsizetype cut = kMostBytes;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;  // not inside a character's bytes
        }
        name.truncate(cut);
    }
    return name.toStdString();
}

// A lock on the whole file, held while the file descriptor is open, which other runs see whatever
// process numbers they see (another container, another machine on a shared folder).
bool lockWhole(int fd, short type, int command) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return ::fcntl(fd, command, &lock) == 0;
}

// Whether the writer of a temporary has ended: nobody holds its lock. A file system without locks
// falls back on the writer's process number, which this machine may not know.
bool writerEnded(const QByteArray& path, pid_t writer) {
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool asked = ::fcntl(fd, F_OFD_GETLK, &lock) == 0;
    ::close(fd);
    if (asked) {
        return lock.l_type == F_UNLCK;
    }
    return writer != ::getpid() && ::kill(writer, 0) != 0 && errno == ESRCH;
}

// The temporary name of a file staged for `target`, its XXXXXX still to be made unique: hidden,
// beside the target, with the writer's process number for file systems without locks.
std::string temporaryPattern(const QString& target) {
    const QFileInfo info(target);
    return PathBytes(info.path()).toStdString() + "/." + temporaryStem(info.fileName()) + "." +
           std::to_string(::getpid()) + "-XXXXXX" + kTemporarySuffix;
}

// The path by which an open file without a name is linked into a folder.
std::string selfPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// Files made without a name can be given one, through /proc.
bool canLinkUnnamed() {
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

// `pattern` with its XXXXXX made letters and digits at random.
// Eight bytes of state a thread (splitmix64): the modules, which are loaded late, carry this file
// too, and glibc has only a little room for their threads' variables (a 2.5 KB generator here
// made one fail to load).
std::string uniqueName(std::string pattern) {
    thread_local std::uint64_t state =
        std::uint64_t(std::random_device{}()) << 32 | std::random_device{}();
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const std::size_t xs = pattern.rfind("XXXXXX");
    for (std::size_t i = 0; i < 6; ++i) {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        pattern[xs + i] = letters[(z ^ (z >> 31)) % (sizeof letters - 1)];
    }
    return pattern;
}

// Gives the unnamed file `fd` a free name of `pattern` (its XXXXXX made unique), locked before any
// other run can see it: a leftover of a run that ended is one that nobody holds. Answers the
// name, or "" and errno.
std::string nameLocked(int fd, const std::string& pattern) {
    lockWhole(fd, F_WRLCK, F_OFD_SETLK);
    const std::string self = selfPath(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = uniqueName(pattern);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return name;
        }
        if (errno != EEXIST) {
            return {};
        }
    }
    return {};
}

// Makes the temporary for a file: without a name where the file system can, so that nothing is
// left behind whatever happens to the run and the file takes its name with one link; otherwise
// under `temporary` (its XXXXXX made unique), locked at once (a run sweeping the folder in between
// could take it for a leftover). `temporary` is "" for an unnamed one. Either is made with the
// mode the user's umask (or the folder's default ACL) gives a new file, as any program's: the
// file is never changed afterwards, which a file system without chmod (FAT through FUSE) refuses
// and for which the umask cannot be known where /proc is not mounted. -1 and errno on failure.
int createTemporary(std::string& temporary) {
    if (canLinkUnnamed()) {
        const std::size_t slash = temporary.rfind('/');
        const int fd =
            ::open(temporary.substr(0, slash).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temporary.clear();
            return fd;
        }
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = uniqueName(temporary);
        const int named =
            ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (named >= 0) {
            lockWhole(named, F_WRLCK, F_OFD_SETLK);
            temporary = std::move(name);
            return named;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    return -1;
}

}  // namespace

StagedFile StagedFile::write(const QString& target, const std::uint8_t* data, std::size_t size,
                             WriteStep* failedAt, Flush flush) {
    const auto at = [failedAt](WriteStep step) {
        if (failedAt != nullptr) {
            *failedAt = step;
        }
    };
    std::string temporary = temporaryPattern(target);
    const int fd = createTemporary(temporary);
    if (fd < 0) {
        at(WriteStep::Create);
        throw failure(errno, "Cannot create a file in the folder of", target);
    }
    const auto abandon = [&](int errnoValue) {
        at(WriteStep::Write);
        if (!temporary.empty()) {
            ::unlink(temporary.c_str());
        }
        return failure(errnoValue, "Cannot write", target);
    };
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int e = n < 0 ? errno : ENOSPC;
            ::close(fd);
            throw abandon(e);
        }
        written += static_cast<std::size_t>(n);
    }
    if (flush == Flush::Now && ::fsync(fd) != 0) {
        const int e = errno;
        ::close(fd);
        throw abandon(e);
    }
    return StagedFile(target, std::move(temporary), fd);
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : target_(std::move(other.target_)), temporary_(std::move(other.temporary_)), fd_(other.fd_) {
    other.temporary_.clear();
    other.fd_ = -1;
}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
    if (this != &other) {
        discard();
        target_ = std::move(other.target_);
        temporary_ = std::move(other.temporary_);
        fd_ = other.fd_;
        other.temporary_.clear();
        other.fd_ = -1;
    }
    return *this;
}

StagedFile::~StagedFile() {
    discard();
}

void StagedFile::discard() {
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());  // before the lock goes, so no other run judges it
        temporary_.clear();
    }
    release();
}

void StagedFile::release() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void StagedFile::flushToDisk() {
    if (::fsync(fd_) != 0) {
        raiseFlushFailure(errno);
    }
}

void StagedFile::raiseFlushFailure(int errnoValue) const {
    throw failure(errnoValue, "Cannot write", target_);
}

std::vector<int> StagedFile::flushAllToDisk(std::span<StagedFile* const> files,
                                            std::size_t together) {
    std::vector<int> errors(files.size(), 0);
    std::map<dev_t, std::vector<std::size_t>> byDevice;
    for (std::size_t i = 0; i < files.size(); ++i) {
        struct stat info {};
        if (::fstat(files[i]->fd_, &info) != 0) {
            errors[i] = errno;
        } else {
            byDevice[info.st_dev].push_back(i);
        }
    }
    for (const auto& [device, group] : byDevice) {
        if (group.size() >= together) {
            const int error = ::syncfs(files[group.front()]->fd_) == 0 ? 0 : errno;
            for (const std::size_t i : group) {
                errors[i] = error;
            }
            continue;
        }
        for (const std::size_t i : group) {
            errors[i] = ::fsync(files[i]->fd_) == 0 ? 0 : errno;
        }
    }
    return errors;
}

FileDescriptor StagedFile::commit() {
    const QByteArray target = PathBytes(target_);
    if (temporary_.empty() && fd_ >= 0) {
        // Unnamed: a new file takes its name with a link, which never replaces one; a file of
        // that name is replaced by a rename of the file under a temporary name.
        if (::linkat(AT_FDCWD, selfPath(fd_).c_str(), AT_FDCWD, target.constData(),
                     AT_SYMLINK_FOLLOW) == 0) {
            return handOver();
        }
        const int e = errno;
        if (e != EEXIST || (temporary_ = nameLocked(fd_, temporaryPattern(target_))).empty()) {
            const int cause = e != EEXIST ? e : errno;
            discard();
            throw failure(cause, "Cannot replace", target_);
        }
    }
    if (::rename(temporary_.c_str(), target.constData()) != 0) {
        const int e = errno;
        discard();
        throw failure(e, "Cannot replace", target_);
    }
    temporary_.clear();
    return handOver();
}

FileDescriptor StagedFile::handOver() {
    FileDescriptor kept(fd_);
    fd_ = -1;
    return kept;
}

int RemoveStagedLeftovers(const QString& folder) {
    int removed = 0;
    const QDir dir(folder);
    const QStringList names =
        dir.entryList({QStringLiteral(".*") + QLatin1String(kTemporarySuffix)},
                      QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        // ".NAME.PID-XXXXXX.tonvaler-part", NAME the target's name or its start: the writer's
        // number sits before the last "-".
        const QString stem = name.chopped(static_cast<qsizetype>(std::strlen(kTemporarySuffix)));
        const qsizetype dash = stem.lastIndexOf(QLatin1Char('-'));
        const qsizetype dot = stem.lastIndexOf(QLatin1Char('.'), dash);
        bool ok = false;
        const pid_t writer =
            dash > dot && dot >= 0 ? stem.mid(dot + 1, dash - dot - 1).toInt(&ok) : 0;
        if (!ok || writer <= 0) {
            continue;
        }
        const QByteArray path = PathBytes(dir.filePath(name));
        if (writerEnded(path, writer) && ::unlink(path.constData()) == 0) {
            ++removed;
        }
    }
    return removed;
}

void MakeFolders(const QString& path) {
    const QByteArray bytes = PathBytes(path);
    for (qsizetype end = 1; end <= bytes.size(); ++end) {
        if (end < bytes.size() && bytes[end] != '/') {
            continue;
        }
        const QByteArray part = bytes.left(end);
        if (::mkdir(part.constData(), 0777) != 0 && errno != EEXIST) {
            throw RuntimeError::fromErrno(errno, part.toStdString());
        }
    }
}
