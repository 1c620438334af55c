#include "convert/PictureFile.h"

#include "shell/FileDescriptor.h"
#include "shell/RuntimeError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

RuntimeError cannotLoad(const QString& path, int number, const std::string& cause) {
    return RuntimeError(number, "Cannot load " + path.toStdString() + ": " + cause);
}

RuntimeError systemFailure(const QString& path, int errnoValue) {
    const RuntimeError plain = RuntimeError::fromErrno(errnoValue, "");
    return cannotLoad(path, plain.number(), plain.description());
}

}  // namespace

std::vector<std::uint8_t> ReadPictureFile(const QString& path, std::size_t maxBytes) {
    const QByteArray name = path.toLocal8Bit();
    if (name.isEmpty()) {
        throw cannotLoad(path, ErrorNumber::FileNotFound, "no file name");
    }
    // Non-blocking, so that opening a pipe does not wait for a writer.
    FileDescriptor fd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        throw systemFailure(path, errno);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        throw systemFailure(path, errno);
    }
    if (S_ISDIR(info.st_mode)) {
        throw cannotLoad(path, ErrorNumber::PathFileAccess, "it is a folder, not a picture");
    }
    if (!S_ISREG(info.st_mode)) {
        throw cannotLoad(path, ErrorNumber::PathFileAccess,
                         "it is a device or a pipe, not a picture file");
    }
    if (info.st_size == 0) {
        throw cannotLoad(path, 481, "the file is empty");
    }
    if (static_cast<std::size_t>(info.st_size) > maxBytes) {
        throw cannotLoad(path, ErrorNumber::OutOfMemory,
                         "the file is " + std::to_string(info.st_size >> 20) +
                             " MB, more than a picture can be");
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw cannotLoad(path, ErrorNumber::PathFileAccess,
                             std::string("reading failed: ") + std::strerror(errno));
        }
        if (n == 0) {
            break;  // the file shrank while being read: decode what is there
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    if (bytes.empty()) {
        throw cannotLoad(path, 481, "the file is empty");
    }
    return bytes;
}
