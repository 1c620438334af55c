#include "engine/PictureFile.h"

#include "base/PathBytes.h"
#include "base/RuntimeError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

RuntimeError systemFailure(const QString& path, int errnoValue) {
    const RuntimeError plain = RuntimeError::fromErrno(errnoValue, "");
    return CannotLoad(path, plain.number(), plain.description());
}

int openForReading(const QString& path) {
    const QByteArray name = PathBytes(path);
    if (name.isEmpty()) {
        throw CannotLoad(path, ErrorNumber::FileNotFound, "no file name");
    }
    // Non-blocking, so that opening a pipe does not wait for a writer.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throw systemFailure(path, errno);
    }
    return fd;
}

// Reads up to `count` bytes; fewer only at the end of the file.
std::size_t readFully(int fd, std::uint8_t* into, std::size_t count, const QString& path) {
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd, into + got, count - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw CannotLoad(path, ErrorNumber::PathFileAccess,
                             std::string("reading failed: ") + std::strerror(errno));
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return got;
}

}  // namespace

PictureBytes::PictureBytes(std::span<const std::uint8_t> copy) : PictureBytes(copy.size()) {
    std::copy(copy.begin(), copy.end(), data_.get());
}

PictureFile::PictureFile(const QString& path, std::size_t maxBytes)
    : path_(path), fd_(openForReading(path)), maxBytes_(maxBytes) {
    struct stat info {};
    if (::fstat(fd_.get(), &info) != 0) {
        throw systemFailure(path, errno);
    }
    if (S_ISDIR(info.st_mode)) {
        throw CannotLoad(path, ErrorNumber::PathFileAccess, "it is a folder, not a picture");
    }
    if (!S_ISREG(info.st_mode)) {
        throw CannotLoad(path, ErrorNumber::PathFileAccess,
                         "it is a device or a pipe, not a picture file");
    }
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes) {
        throw CannotLoad(path, ErrorNumber::OutOfMemory,
                         "the file is " + std::to_string(info.st_size >> 20) +
                             " MB, more than a picture can be");
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
    opened_ = stampOf(info);
    head_.resize(std::min<std::uint64_t>(size_, kHeadBytes));
    head_.resize(readFully(fd_.get(), head_.data(), head_.size(), path));
    if (head_.empty()) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture, "the file is empty");
    }
}

PictureFile::Stamp PictureFile::stampOf(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return {};
    }
    return stampOf(info);
}

PictureFile::Stamp PictureFile::stampOf(const struct stat& info) {
    const auto ns = [](const timespec& t) {
        return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    return {std::uint64_t(info.st_dev), std::uint64_t(info.st_ino), info.st_size, ns(info.st_mtim),
            ns(info.st_ctim)};
}

std::optional<FileStamp> FileStampAt(const QString& path) {
    struct stat info {};
    if (::stat(PathBytes(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return PictureFile::stampOf(info);
}

namespace {

// The file system stamps a write with a clock that ticks every few milliseconds: a write in the
// tick of a read leaves the stamp as it was. A file written within this long is read again once
// it has rested so long.
constexpr std::chrono::milliseconds kSettle{30};
constexpr int kReadings = 6;

}  // namespace

PictureBytes PictureFile::readAll() {
    // A file that another program writes while it is read would give a picture made of two: it
    // is read until its stamp stayed the same through a reading and it had rested before it.
    for (int reading = 0; reading < kReadings; ++reading) {
        // The stamp taken as the file opened stands for the first reading: nothing was read since.
        const Stamp before = reading == 0 ? opened_ : stampOf(fd_.get());
        if (static_cast<std::uint64_t>(before.size) > maxBytes_) {
            throw CannotLoad(path_, ErrorNumber::OutOfMemory,
                             "the file is " + std::to_string(before.size >> 20) +
                                 " MB, more than a picture can be");
        }
        PictureBytes bytes(static_cast<std::size_t>(std::max<off_t>(before.size, 1)));
        std::size_t got = 0;
        if (reading == 0 && before == opened_ && !head_.empty()) {
            // As it was when the head was read: the rest follows it.
            std::copy(head_.begin(), head_.end(), bytes.data());
            got = head_.size() + readFully(fd_.get(), bytes.data() + head_.size(),
                                           bytes.size() - std::min(bytes.size(), head_.size()),
                                           path_);
        } else {
            if (::lseek(fd_.get(), 0, SEEK_SET) != 0) {
                throw systemFailure(path_, errno);
            }
            got = readFully(fd_.get(), bytes.data(), bytes.size(), path_);
        }
        bytes.shrink(got);
        const Stamp after = stampOf(fd_.get());
        if (after == before) {
            timespec now{};
            ::clock_gettime(CLOCK_REALTIME, &now);
            const std::int64_t age = std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec -
                                     std::max(after.modified, after.changed);
            const std::int64_t settle = std::chrono::nanoseconds(kSettle).count();
            if (age < 0 || age >= settle) {
                opened_ = after;
                return bytes;
            }
            std::this_thread::sleep_for(std::chrono::nanoseconds(settle - age));
        }
    }
    throw CannotLoad(path_, ErrorNumber::PathFileAccess,
                     "the file changed while it was read (another program is writing it)");
}
