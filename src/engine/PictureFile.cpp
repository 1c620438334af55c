#include "engine/PictureFile.h"

#include "base/PathBytes.h"
#include "base/RuntimeError.h"
#include "engine/PictureLoader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

RuntimeError CannotLoad(const QString& path, int number, const std::string& cause) {
    return RuntimeError(number, "Cannot load " + path.toStdString() + ": " + cause);
}

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
    : path_(path), fd_(openForReading(path)) {
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
    head_.resize(std::min<std::uint64_t>(size_, kHeadBytes));
    head_.resize(readFully(fd_.get(), head_.data(), head_.size(), path));
    if (head_.empty()) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture, "the file is empty");
    }
}

PictureBytes PictureFile::readAll() {
    PictureBytes bytes(static_cast<std::size_t>(std::max<std::uint64_t>(size_, head_.size())));
    std::copy(head_.begin(), head_.end(), bytes.data());
    const std::size_t rest = bytes.size() - head_.size();
    bytes.shrink(head_.size() + readFully(fd_.get(), bytes.data() + head_.size(), rest, path_));
    return bytes;
}
