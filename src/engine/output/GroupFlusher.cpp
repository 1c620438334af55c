#include "engine/output/GroupFlusher.h"

#include "engine/output/JpegWriter.h"

#include <pthread.h>

namespace {

// Fewer files than this are flushed one by one: a file system's flush waits for every file
// written on it, other programs' too, which only pays when it stands for several of ours.
constexpr std::size_t kFlushTogether = 4;

}  // namespace

GroupFlusher::GroupFlusher() : thread_([this] { run(); }) {}

GroupFlusher::~GroupFlusher() {
    abandon();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void GroupFlusher::flush(StagedFile& file, Done done) {
    {
        std::lock_guard lock(mutex_);
        waiting_.emplace_back(&file, std::move(done));
    }
    wake_.notify_one();
}

void GroupFlusher::close(FileDescriptor file) {
    // Woken for a few at a time: a wake-up costs the caller more than the close it saves.
    constexpr std::size_t kCloseTogether = 32;
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (closing_.size() >= 2 * kCloseTogether) {
            return;  // the flushing thread is behind (a slow disk): closed here, as `file` goes
        }
        closing_.push_back(std::move(file));
        wake = closing_.size() >= kCloseTogether;
    }
    if (wake) {
        wake_.notify_one();
    }
}

void GroupFlusher::closeWaiting() {
    wake_.notify_one();
}

void GroupFlusher::abandon() {
    std::vector<std::pair<StagedFile*, Done>> dropped;
    {
        std::unique_lock lock(mutex_);
        dropped.swap(waiting_);
        idle_.wait(lock, [this] { return !flushing_; });
    }
    // Destroyed here, with the files they own, outside the lock.
}

void GroupFlusher::run() {
    ::pthread_setname_np(::pthread_self(), kFlushingThreadName);  // for ps, top and profilers
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !waiting_.empty() || !closing_.empty(); });
        if (waiting_.empty() && closing_.empty()) {
            return;
        }
        std::vector<std::pair<StagedFile*, Done>> group;
        group.swap(waiting_);
        std::vector<FileDescriptor> closing;
        closing.swap(closing_);
        flushing_ = true;
        lock.unlock();
        std::vector<StagedFile*> files;
        files.reserve(group.size());
        for (const auto& entry : group) {
            files.push_back(entry.first);
        }
        const std::vector<std::optional<RuntimeError>> failures =
            FlushOutputFiles(files, kFlushTogether);
        for (std::size_t i = 0; i < group.size(); ++i) {
            group[i].second(failures[i]);
        }
        group.clear();
        closing.clear();
        lock.lock();
        flushing_ = false;
        idle_.notify_all();
    }
}
