#pragma once

#include "base/FileDescriptor.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Files that appear whole or not at all. The bytes go to a temporary file beside the target,
// without a name where the file system can make one so (else hidden, under a name of at most
// about 100 bytes), are flushed to the disk, and the temporary then takes the target's name: by
// a link when no file has it, else by a rename over it. The target holds either its old file or
// the whole new one, never part of one.

// When the bytes reach the disk: before write() returns, or at flushToDisk(), from another
// thread, so that the writer goes on meanwhile.
enum class Flush { Now, Later };

// The step at which writing failed.
enum class WriteStep { Create, Write, Replace };

// The suffix of the temporary files, by which leftovers of an interrupted run are recognised.
inline constexpr char kTemporarySuffix[] = ".tonvaler-part";

// A finished file, unnamed or under its temporary name, waiting to take its target's name. Owns
// the temporary: destroying a StagedFile that was not committed removes it. Move-only.
class StagedFile {
  public:
    // Writes and flushes the temporary. Raises RuntimeError with the system's cause; `failedAt`,
    // when given, tells which step failed. Nothing is left behind on failure.
    // With Flush::Later the bytes are not yet flushed to the disk: flushToDisk() must follow
    // before commit(), from any thread.
    static StagedFile write(const QString& target, const std::uint8_t* data, std::size_t size,
                            WriteStep* failedAt = nullptr, Flush flush = Flush::Now);

    // Makes the temporary's bytes durable. Raises RuntimeError (step Write) on failure.
    void flushToDisk();
    // Makes the bytes of several staged files durable: those of a file system that holds at
    // least `together` of them with one flush of that file system (syncfs, which waits for
    // every file written on it, other programs' too) instead of one flush a file; the others
    // one by one. Answers, for each file, 0 or the errno of its flush; a failed flush of a file
    // system fails all its files, since the system does not say whose bytes it could not write.
    static std::vector<int> flushAllToDisk(std::span<StagedFile* const> files,
                                           std::size_t together);
    // The failure (step Write) of a flush that failed with `errnoValue`.
    [[noreturn]] void raiseFlushFailure(int errnoValue) const;

    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&& other) noexcept;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    ~StagedFile();

    // Renames the temporary over the target, replacing a file of that name. Raises RuntimeError
    // (step Replace) and removes the temporary when that fails; the target is then untouched.
    // Answers the file's descriptor, which closes the file when it goes: closing a file just
    // written costs the system about as much as naming it, and a caller that commits many may
    // close them on another thread.
    FileDescriptor commit();

    const QString& target() const { return target_; }

  private:
    StagedFile(QString target, std::string temporary, int fd)
        : target_(std::move(target)), temporary_(std::move(temporary)), fd_(fd) {}
    void discard();
    void release();
    FileDescriptor handOver();

    QString target_;
    std::string temporary_;  // the temporary's name; empty while it has none, once committed
                             // or discarded
    int fd_ = -1;            // open, holding a named temporary's lock, until then
};

// Removes from `folder` the temporary files that runs which have ended left behind (killed, say,
// between writing and renaming), and answers how many. Files of runs still going, which hold a
// lock on them, are left, whichever process namespace or machine those runs are on.
int RemoveStagedLeftovers(const QString& folder);

// Makes `path` and the folders above it that are missing; raises the system's reason, naming the
// folder, when one cannot be made. Thread-safe.
void MakeFolders(const QString& path);
