#include "engine/OrderedBatch.h"

#include "engine/output/JpegWriter.h"

#include <vector>

OrderedBatch::OrderedBatch(Client& client, int workers, std::uint64_t memoryBytes)
    : client_(client),
      engine_([this](PictureOutcome&& outcome) { arrived(std::move(outcome)); }, workers,
              memoryBytes) {}

void OrderedBatch::start(int count) {
    ++batch_;
    running_ = true;
    driving_ = false;  // a loop of an abandoned batch, if one is still up the stack, stops
    count_ = count;
    next_ = head_ = 0;
    headReached_ = false;
    madeAgain_ = 0;
    ready_.clear();
    renewed_.clear();
    remadeForSource_.clear();
    drive();
}

void OrderedBatch::abandon() {
    running_ = false;
    driving_ = false;
    ++batch_;
    engine_.abandon();
    ready_.clear();
}

void OrderedBatch::startMore(std::uint64_t batch) {
    const int ahead = engine_.jobsAhead();
    while (stillRunning(batch) && next_ < count_ && next_ - head_ < ahead) {
        submit(next_++, false);
    }
}

void OrderedBatch::submit(int item, bool first) {
    const std::uint64_t batch = batch_;
    try {
        PictureJob job = client_.jobFor(item);
        if (!stillRunning(batch)) {
            return;
        }
        job.item = item;
        job.first = first;
        job.nameWhenDurable = client_.namesAsSoonAsDurable();
        engine_.submit(std::move(job));
    } catch (...) {
        if (!stillRunning(batch)) {
            return;
        }
        PictureOutcome failed;
        failed.item = item;
        failed.failedStage = PictureStage::Start;
        failed.failure = RuntimeError::fromCurrentException();
        ready_.insert_or_assign(item, std::move(failed));
    }
}

void OrderedBatch::arrived(PictureOutcome&& outcome) {
    if (!running_ || outcome.item < head_ || outcome.item >= next_) {
        return;
    }
    const int item = outcome.item;
    ready_.insert_or_assign(item, std::move(outcome));
    drive();
}

void OrderedBatch::drive() {
    if (driving_ || !running_) {
        return;  // the loop further up the stack goes on with this when its call returns
    }
    driving_ = true;
    const std::uint64_t batch = batch_;
    while (stillRunning(batch)) {
        startMore(batch);
        if (!stillRunning(batch)) {
            return;
        }
        if (head_ >= count_) {
            running_ = false;
            driving_ = false;
            engine_.closeWaiting();
            ReleaseFreeMemory();
            client_.finished();
            return;
        }
        if (!headReached_) {
            headReached_ = true;
            client_.reached(head_);
            continue;
        }
        const auto found = ready_.find(head_);
        if (found == ready_.end()) {
            break;  // it arrives later, and drives on
        }
        const int item = head_;
        PictureOutcome outcome = std::move(found->second);
        ready_.erase(found);
        const bool current = madeFromSourceAsItIs(item, outcome) && client_.current(item, outcome);
        if (!stillRunning(batch)) {
            return;  // the outcome goes with its staged file
        }
        if (!current) {
            ++madeAgain_;
            submit(item, true);
            renewStale(batch);
            continue;
        }
        ++head_;
        headReached_ = false;
        if (!outcome.failed() && !outcome.named) {
            try {
                engine_.closeLater(CommitOutputFile(*outcome.file));
            } catch (...) {
                outcome.file.reset();
                outcome.failedStage = PictureStage::Write;
                outcome.failure = RuntimeError::fromCurrentException();
            }
        }
        startMore(batch);  // the workers go on while the client takes this one up
        if (!stillRunning(batch)) {
            return;
        }
        client_.takeUp(item, outcome);
    }
    if (batch == batch_) {
        driving_ = false;
    }
}

bool OrderedBatch::madeFromSourceAsItIs(int item, const PictureOutcome& outcome) {
    if (!outcome.sourceStamp) {
        return true;
    }
    const std::optional<FileStamp> now = FileStampAt(outcome.sourcePath);
    if (now && now->sameContentAs(*outcome.sourceStamp)) {
        return true;
    }
    int& remade = remadeForSource_[item];
    return remade++ >= kMostRemadeForSource;
}

void OrderedBatch::renewStale(std::uint64_t batch) {
    std::vector<int> items;
    for (const auto& [item, outcome] : ready_) {
        if (renewed_.count(item) == 0) {
            items.push_back(item);
        }
    }
    for (const int item : items) {
        auto node = ready_.extract(item);
        if (node.empty()) {
            continue;
        }
        const bool current =
            madeFromSourceAsItIs(item, node.mapped()) && client_.current(item, node.mapped());
        if (!stillRunning(batch)) {
            return;
        }
        if (current) {
            ready_.insert(std::move(node));
        } else {
            ++madeAgain_;
            renewed_.insert(item);
            submit(item, false);
        }
    }
}
