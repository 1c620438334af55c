#include "engine/OrderedBatch.h"

#include "engine/JpegWriter.h"

OrderedBatch::OrderedBatch(Client& client, int workers, std::uint64_t memoryBytes)
    : client_(client),
      engine_([this](PictureOutcome&& outcome) { arrived(std::move(outcome)); }, workers,
              memoryBytes) {}

void OrderedBatch::start(int count) {
    running_ = true;
    count_ = count;
    next_ = head_ = 0;
    headReached_ = false;
    waiting_.clear();
    startMore();
    takeUpInOrder();
}

void OrderedBatch::startMore() {
    const int ahead = kJobsAheadPerWorker * engine_.workers();
    while (running_ && next_ < count_ && next_ - head_ < ahead) {
        const int item = next_++;
        waiting_.emplace_back();
        try {
            PictureJob job = client_.jobFor(item);
            job.item = item;
            engine_.submit(std::move(job));
        } catch (...) {
            PictureOutcome failed;
            failed.item = item;
            failed.failedStage = PictureStage::Start;
            failed.failure = RuntimeError::fromCurrentException();
            waiting_.back() = std::move(failed);
        }
    }
}

void OrderedBatch::arrived(PictureOutcome&& outcome) {
    if (!running_ || outcome.item < head_ || outcome.item >= next_) {
        return;
    }
    waiting_[static_cast<std::size_t>(outcome.item - head_)] = std::move(outcome);
    takeUpInOrder();
}

void OrderedBatch::takeUpInOrder() {
    if (takingUp_ || !running_) {
        return;  // the loop further up the stack takes this outcome up when its callback returns
    }
    takingUp_ = true;
    while (running_ && head_ < count_) {
        if (!headReached_) {
            headReached_ = true;
            client_.reached(head_);
            if (!running_) {
                break;
            }
        }
        if (!waiting_.front()) {
            break;
        }
        PictureOutcome outcome = std::move(*waiting_.front());
        waiting_.pop_front();
        if (!outcome.failed()) {
            try {
                CommitOutputFile(*outcome.file);
            } catch (...) {
                outcome.file.reset();
                outcome.failedStage = PictureStage::Write;
                outcome.failure = RuntimeError::fromCurrentException();
            }
        }
        client_.takeUp(head_, outcome);
        ++head_;
        headReached_ = false;
        startMore();
    }
    takingUp_ = false;
    if (!running_) {
        waiting_.clear();
    } else if (head_ >= count_) {
        running_ = false;
        client_.finished();
    }
}

void OrderedBatch::abandon() {
    running_ = false;
    engine_.abandon();
    if (!takingUp_) {
        waiting_.clear();
    }
}
