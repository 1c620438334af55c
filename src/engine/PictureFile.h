#pragma once

#include "base/FileDescriptor.h"
#include "base/RuntimeError.h"
#include "engine/formats/LoadFailure.h"

#include <QString>

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A file's content in memory. Its bytes are not cleared before they are read into: a picture's
// bytes are written once, by the read. Move-only.
class PictureBytes {
  public:
    PictureBytes() = default;
    explicit PictureBytes(std::size_t size) : data_(new std::uint8_t[size]), size_(size) {}
    explicit PictureBytes(std::span<const std::uint8_t> copy);

    std::uint8_t* data() { return data_.get(); }
    const std::uint8_t* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    std::span<const std::uint8_t> span() const { return {data_.get(), size_}; }
    // Keeps the first `size` bytes (no more than there are).
    void shrink(std::size_t size) { size_ = size < size_ ? size : size_; }

  private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_ = 0;
};

// What tells one content of a file from another: which file it is (device, inode), its size, and
// its times in nanoseconds.
struct FileStamp {
    std::uint64_t device = 0, inode = 0;
    std::int64_t size = 0, modified = 0, changed = 0;
    bool operator==(const FileStamp&) const = default;
    // Whether `other` stamps the same content, as far as a look by path can tell: the same
    // device, size and times. Not the inode: file systems that make their inode numbers up (FAT
    // through FUSE) give a file another at each look, and a file put in another's place has a
    // change time of its own anyway.
    bool sameContentAs(const FileStamp& other) const {
        return device == other.device && size == other.size && modified == other.modified &&
               changed == other.changed;
    }
};

// The stamp of the file at `path` now, through links; nothing when it cannot be looked at.
std::optional<FileStamp> FileStampAt(const QString& path);

// A picture file open for reading. Its first bytes are read when it opens, so that what the file
// is can be decided before the rest of it is read (a video is never read whole to be refused).
// Raises RuntimeError, naming the file and the cause, for a missing file (53), no access (70), a
// folder, a device or a pipe (75: never waits on one), an empty file, or one over `maxBytes`.
class PictureFile {
  public:
    static constexpr std::size_t kHeadBytes = 64 * 1024;

    explicit PictureFile(const QString& path, std::size_t maxBytes = std::size_t(1) << 30);

    // The first kHeadBytes bytes, or the whole file when it is shorter; none once dropped.
    std::span<const std::uint8_t> head() const { return head_; }
    // Lets the head go, for a file that waits its turn open: readAll() reads it again.
    void dropHead() { std::vector<std::uint8_t>().swap(head_); }
    std::uint64_t size() const { return size_; }
    // The whole content. A file that changes while it is read (another program saving over it)
    // is read again, until it stayed the same through a reading and had not been written for
    // 30 ms before it (the file system's clock ticks every few milliseconds); a file still
    // changing after six readings raises RuntimeError 75.
    PictureBytes readAll();
    // The file's stamp as readAll() last read it (as it was opened before).
    const FileStamp& stamp() const { return opened_; }

    // The stamp that `info` (of fstat or stat) gives.
    static FileStamp stampOf(const struct stat& info);

  private:
    using Stamp = FileStamp;
    static Stamp stampOf(int fd);

    QString path_;
    FileDescriptor fd_;
    std::size_t maxBytes_;
    Stamp opened_;
    std::uint64_t size_ = 0;
    std::vector<std::uint8_t> head_;
};
