#pragma once

#include "base/RuntimeError.h"
#include "engine/output/AtomicFile.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Makes staged files durable on a thread of its own, in groups: the files handed over while one
// flush runs are flushed together by the next, four or more of a file system at the cost of one
// flush of it (FlushOutputFiles), so that many small files do not wait for the disk one at a
// time. A file alone is flushed by itself, as before. `done` follows for each file, on that
// thread, with the flush's failure or nothing.
class GroupFlusher {
  public:
    static constexpr const char* kFlushingThreadName = "tonvaler-flush";

    using Done = std::function<void(std::optional<RuntimeError> failure)>;

    GroupFlusher();
    // Drops what waits and waits for the flush that runs.
    ~GroupFlusher();
    GroupFlusher(const GroupFlusher&) = delete;
    GroupFlusher& operator=(const GroupFlusher&) = delete;

    // `file` must stay where it is until its `done` has been called or dropped; `done` may own it.
    void flush(StagedFile& file, Done done);
    // Drops the files that wait, destroying their `done` uncalled, and returns once no flush runs.
    void abandon();
    // Closes a committed file on this thread, so that the caller does not wait on the system:
    // with the next flush, or once a few are waiting, or at closeWaiting(); on the caller's
    // thread when many wait already, so that they stay few.
    void close(FileDescriptor file);
    // Closes the files handed to close() soon.
    void closeWaiting();

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::vector<std::pair<StagedFile*, Done>> waiting_;
    std::vector<FileDescriptor> closing_;
    bool flushing_ = false;
    bool stopping_ = false;
    std::thread thread_;  // last: it starts once the rest is made
};
