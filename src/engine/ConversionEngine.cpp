#include "engine/ConversionEngine.h"

#include "base/FileExists.h"
#include "engine/BatchPaths.h"
#include "engine/FilterWhileDecoding.h"
#include "engine/PictureFile.h"
#include "engine/PictureLoader.h"
#include "engine/formats/DecoderThreads.h"
#include "engine/formats/PictureFormat.h"
#include "engine/output/JpegEncoder.h"
#include "engine/output/JpegWriter.h"
#include "engine/output/PngWriter.h"
#include "filter/PixelMemory.h"

#include <QFile>
#include <QThread>

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <mutex>
#include <vector>

namespace {

// A JPEG output of a JPEG that the bands can serve; nothing for the others. `stage` becomes
// Encode once the failure can only be the encoder's.
std::optional<EncodedBytes> convertInBands(const PictureJob& job,
                                           const ConversionSettings& settings,
                                           const PictureContent& content, const QString& path,
                                           PictureStage& stage, QString& captureDataLeftOut) {
    if (job.format != PictureJob::Format::Jpeg) {
        return std::nullopt;
    }
    JpegEncoder encoder(settings.quality);
    if (job.carryCaptureData && content.probe.servesBands()) {
        CaptureData carried =
            FormatOf(content.probe.type)
                .captureData(content.bytes.span(), static_cast<int>(content.probe.width),
                             static_cast<int>(content.probe.height));
        captureDataLeftOut = QString::fromStdString(carried.leftOut);
        encoder.carry(std::move(carried));
    }
    try {
        if (!FilterJpegWhileDecoding(content, path, settings.thresholds, encoder)) {
            return std::nullopt;
        }
    } catch (...) {
        if (encoder.failed()) {
            stage = PictureStage::Encode;
        }
        throw;
    }
    stage = PictureStage::Encode;
    return encoder.finish();
}

// Each staged file keeps its descriptor, and with it its lock, until it takes its name, and each
// source looked at ahead stays open until it is read: the soft limit is raised to the hard one.
// Answers the open files the process may have.
std::uint64_t raiseOpenFileLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 1024;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        const rlim_t wanted = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            limit.rlim_cur = wanted;
        }
    }
    return limit.rlim_cur == RLIM_INFINITY ? std::uint64_t(1) << 20 : limit.rlim_cur;
}

// Blocks of a megabyte or more come from the system and go back to it when freed, whatever
// malloc has seen before: the big blocks that are worth keeping, PixelMemory keeps (the decoders'
// among them, see JpegMemory.cpp), within its cap, and they go back when their worker ends, so
// that an idle window does not hold them. The smaller ones stay with malloc between pictures:
// handing back each picture's few hundred kilobytes cost every small picture a flush of the
// other cores' page tables and a page fault for every 4 KB when it came back, more time than
// the picture's decode (ReleaseFreeMemory hands them back once the batch ends).
void tuneMalloc() {
    static std::once_flag once;
    std::call_once(once, [] {
        mallopt(M_MMAP_THRESHOLD, 1 << 20);
        mallopt(M_TRIM_THRESHOLD, 8 << 20);
    });
}

// Of the budget, an eighth (at most 256 MB) is for the buffers that workers keep between
// pictures, and the rest for the pictures.
std::shared_ptr<MemoryBudget> budgetFor(std::uint64_t bytes) {
    const std::uint64_t total = bytes > 0 ? bytes : MemoryBudget::defaultBytes();
    const std::uint64_t kept = std::min<std::uint64_t>(std::uint64_t(256) << 20, total / 8);
    PixelMemory::setMostKept(static_cast<std::size_t>(kept));
    return std::make_shared<MemoryBudget>(total - kept);
}

// The source opened; a source that cannot be looked at fails as missing, as the loader words it.
OpenedPicture openSource(const QString& sourcePath) {
    try {
        return OpenPicture(sourcePath);
    } catch (...) {
        if (ShortFilename(sourcePath).isEmpty()) {
            throw CannotLoad(sourcePath, ErrorNumber::FileNotFound, "No such file or directory");
        }
        throw;
    }
}

}  // namespace

void ReleaseFreeMemory() {
    malloc_trim(0);
}

BgrxImage LoadSourcePicture(const QString& sourcePath) {
    const SourceContent source = ReadSourcePicture(sourcePath);
    return DecodePicture(source.content, source.name);
}

SourceContent ReadSourcePicture(const QString& sourcePath) {
    return {ReadPicture(openSource(sourcePath), sourcePath), sourcePath};
}

PictureOutcome ConvertPicture(const PictureJob& job, const ConversionSettings& settings,
                              const std::atomic<bool>& abandoned, MemoryBudget& budget,
                              std::optional<OpenedPicture> opened) {
    PictureOutcome outcome;
    outcome.item = job.item;
    outcome.sourcePath = job.sourcePath;
    outcome.settings = settings;
    const auto began = std::chrono::steady_clock::now();
    struct Timed {  // the time taken, however the job ends
        PictureOutcome& outcome;
        std::chrono::steady_clock::time_point began;
        ~Timed() {
            outcome.milliseconds =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began)
                    .count();
        }
    } timed{outcome, began};
    PictureStage stage = PictureStage::Load;
    try {
        const QString& existing = job.sourcePath;
        const PictureContent content =
            ReadPicture(opened ? std::move(*opened) : openSource(existing), existing);
        outcome.sourceStamp = content.stamp;
        if (job.format == PictureJob::Format::Jpeg && content.probe.servesBands() &&
            !content.probe.multiScan) {
            // Decoded in bands with no big blocks: what the last picture left for this worker
            // would only add to the peak while this one runs.
            PixelMemory::letGoOfKept();
        }
        const MemoryBudget::Share memory =
            budget.take(content.bytes.size() + content.probe.workingBytes());
        if (abandoned) {
            return outcome;
        }
        // Most pictures are decoded, filtered and encoded a band at a time.
        std::optional<EncodedBytes> encoded =
            convertInBands(job, settings, content, existing, stage, outcome.captureDataLeftOut);
        if (!encoded) {
            std::optional<BgrxImage> picture = DecodePicture(content, existing);
            if (abandoned) {
                return outcome;
            }
            stage = PictureStage::Filter;
            std::optional<GreyImage> grey = ApplyBlackWhiteFilter(*picture, settings.thresholds);
            picture.reset();  // the decoded picture is the big one: let it go before encoding
            if (abandoned) {
                return outcome;
            }
            const CaptureData carried =
                job.carryCaptureData
                    ? FormatOf(content.probe.type)
                          .captureData(content.bytes.span(), grey->width(), grey->height())
                    : CaptureData{};
            outcome.captureDataLeftOut = QString::fromStdString(carried.leftOut);
            stage = PictureStage::Encode;
            encoded.emplace(job.format == PictureJob::Format::Png
                                ? EncodeGreyPng(*grey, carried)
                                : EncodeGreyJpeg(*grey, settings.quality, carried));
        }
        if (abandoned) {
            return outcome;
        }
        stage = PictureStage::Write;
        // Flushed to the disk afterwards, by a thread that waits on the disk while this one
        // goes on with the next picture.
        const QString extension =
            job.format == PictureJob::Format::Png ? QStringLiteral("png") : QStringLiteral("jpg");
        QString folder = settings.outputFolder;
        if (!job.outputSubfolder.isEmpty()) {
            folder += QLatin1Char('/') + job.outputSubfolder;
            MakeFolders(folder);
        }
        outcome.outputPath = OutputPath(folder, job.sourcePath, extension);
        outcome.file = StageOutputFile(outcome.outputPath, *encoded, Flush::Later);
    } catch (...) {
        outcome.failedStage = stage;
        outcome.failure = RuntimeError::fromCurrentException();
    }
    return outcome;
}

JobRoom RoomForJobs(int workers, std::uint64_t openFiles) {
    const std::uint64_t room = openFiles > kReservedFiles + 2 ? openFiles - kReservedFiles : 2;
    JobRoom r{std::max(1, workers), kJobsAheadPerWorker};
    // A worker takes one for its thread and one for each job ahead.
    r.ahead =
        int(std::min<std::uint64_t>(kJobsAheadPerWorker, room / std::uint64_t(r.workers) - 1));
    if (room / std::uint64_t(r.workers) < 2) {
        r.workers = int(std::max<std::uint64_t>(1, room / 2));
        r.ahead = 1;
    }
    return r;
}

ConversionEngine::ConversionEngine(OutcomeHandler handler, int workers, std::uint64_t memoryBytes)
    : handler_(std::move(handler)),
      abandoned_(std::make_shared<std::atomic<bool>>(false)),
      budget_(budgetFor(memoryBytes)) {
    const JobRoom room =
        RoomForJobs(workers > 0 ? workers : QThread::idealThreadCount(), raiseOpenFileLimit());
    tuneMalloc();
    pool_.setMaxThreadCount(room.workers);
    jobsAhead_ = room.workers * room.ahead;
    // Idle workers end after a while, and with them the memory they keep for the next picture.
    pool_.setExpiryTimeout(10000);
}

ConversionEngine::~ConversionEngine() {
    abandon();
}

namespace {

// Looks at a job's header come before any conversion that waits, and a job that must go first
// before the rest.
constexpr int kLookPriority = INT_MAX;
constexpr int kFirstPriority = INT_MAX - 1;

// The job's place among the conversions waiting: its expected cost in microseconds, from its
// header (a file that cannot be read is cheap, and comes last).
int priorityOf(const std::optional<OpenedPicture>& opened) {
    if (!opened) {
        return 0;
    }
    const std::uint64_t micros = opened->probe.costEstimate(opened->file.size()) / 1000;
    return static_cast<int>(std::min<std::uint64_t>(micros, kFirstPriority - 1));
}

}  // namespace

void ConversionEngine::submit(PictureJob job) {
    ++inFlight_;
    budget_->jobBegins();
    if (job.first) {
        convert(std::move(job), kFirstPriority, abandoned_, nullptr);
        return;
    }
    // A worker opens the file and reads its header, so that the caller's thread never waits on
    // the disk; the conversion goes on from the open file, never looking it up or reading its
    // head again. One that cannot be opened is opened again by its conversion, which reports why.
    const int item = job.item;
    pool_.start(
        [this, job = std::move(job), abandoned = abandoned_]() mutable {
            if (*abandoned) {
                return;
            }
            auto opened = std::make_shared<std::optional<OpenedPicture>>();
            try {
                opened->emplace(OpenPicture(job.sourcePath));
            } catch (...) {
            }
            const int priority = priorityOf(*opened);
            if (*opened) {
                // Many files wait so, up to kJobsAheadPerWorker a worker: their heads would take
                // memory that no budget counts.
                (*opened)->file.dropHead();
            }
            convert(std::move(job), priority, abandoned, std::move(opened));
        },
        kLookPriority, item);
}

void ConversionEngine::convert(PictureJob job, int priority,
                               const std::shared_ptr<std::atomic<bool>>& abandoned,
                               std::shared_ptr<std::optional<OpenedPicture>> opened) {
    const int item = job.item;
    pool_.start(
        [this, job = std::move(job), abandoned, budget = budget_, opened = std::move(opened)] {
            PixelMemory::keepOnThisThread();  // this pool's threads end when the engine does
            // The workers no job has are lent to those that run, shared: a picture alone gets
            // them all, a batch none until its last pictures.
            const int running = std::clamp(inFlight_.load(), 1, workers());
            const LentThreads lent((workers() - running) / running);
            // The settings as they stand now that the picture begins.
            auto outcome = std::make_shared<PictureOutcome>(
                ConvertPicture(job, job.settings->get(), *abandoned, *budget,
                               opened ? std::move(*opened) : std::nullopt));
            PixelMemory::pictureEnded();
            --inFlight_;
            budget->jobsEnd();
            if (*abandoned) {
                return;  // the staged file, if any, goes with the outcome
            }
            if (!outcome->file) {
                deliver(outcome, abandoned);
                return;
            }
            flusher_.flush(*outcome->file, [this, outcome, abandoned, name = job.nameWhenDurable](
                                               std::optional<RuntimeError> failure) {
                if (*abandoned) {
                    return;
                }
                if (!failure && name) {
                    nameLater(outcome, abandoned);
                    return;
                }
                if (failure) {
                    outcome->file.reset();
                    outcome->failedStage = PictureStage::Write;
                    outcome->failure = std::move(*failure);
                }
                deliver(outcome, abandoned);
            });
        },
        priority, item);
}

void ConversionEngine::nameLater(const std::shared_ptr<PictureOutcome>& outcome,
                                 const std::shared_ptr<std::atomic<bool>>& abandoned) {
    bool queue = false;
    {
        std::lock_guard lock(namingMutex_);
        naming_.push_back(outcome);
        queue = !std::exchange(namingQueued_, true);
    }
    if (queue) {
        pool_.start([this, abandoned] { nameWaiting(abandoned); }, kLookPriority);
    }
}

void ConversionEngine::nameWaiting(const std::shared_ptr<std::atomic<bool>>& abandoned) {
    // A few files a task; the rest go to the next free worker, so that on many cores the names
    // are taken on many threads.
    constexpr std::size_t kNameTogether = 16;
    if (*abandoned) {
        return;
    }
    std::vector<std::shared_ptr<PictureOutcome>> mine;
    bool more = false;
    {
        std::lock_guard lock(namingMutex_);
        const std::size_t n = std::min(kNameTogether, naming_.size());
        mine.assign(std::make_move_iterator(naming_.begin()),
                    std::make_move_iterator(naming_.begin() + static_cast<std::ptrdiff_t>(n)));
        naming_.erase(naming_.begin(), naming_.begin() + static_cast<std::ptrdiff_t>(n));
        more = !naming_.empty();
        namingQueued_ = more;
    }
    if (more) {
        pool_.start([this, abandoned] { nameWaiting(abandoned); }, kLookPriority);
    }
    for (const std::shared_ptr<PictureOutcome>& outcome : mine) {
        if (*abandoned) {
            return;  // the rest go unnamed, with their staged files
        }
        try {
            CommitOutputFile(*outcome->file);  // and closed here
            outcome->named = true;
        } catch (...) {
            outcome->failedStage = PictureStage::Write;
            outcome->failure = RuntimeError::fromCurrentException();
        }
        outcome->file.reset();
        deliver(outcome, abandoned);
    }
}

void ConversionEngine::deliver(const std::shared_ptr<PictureOutcome>& outcome,
                               const std::shared_ptr<std::atomic<bool>>& abandoned) {
    bool queue = false;
    {
        std::lock_guard lock(arrivedMutex_);
        arrived_.emplace_back(outcome, abandoned);
        queue = !std::exchange(takeQueued_, true);
    }
    if (queue) {
        // Queued to the engine's thread; if the engine goes first, the event goes with it, and
        // the outcomes waiting (with their staged files) with the engine.
        QMetaObject::invokeMethod(
            this, [this, abandoned] { takeArrived(abandoned); }, Qt::QueuedConnection);
    }
}

void ConversionEngine::takeArrived(std::shared_ptr<std::atomic<bool>> abandoned) {
    // Those that had arrived when the call began: the rest come with the next call, after the
    // event loop has had its turn (input, timers, a close), however fast they come.
    std::size_t count = 0;
    {
        std::lock_guard lock(arrivedMutex_);
        count = arrived_.size();
    }
    // The handler may run an event loop (a report's), and the engine be abandoned or deleted in
    // it: the batch's flag, kept here, says so before anything of the engine is touched again.
    // Outcomes that arrive meanwhile wait for this call; the handler keeps those of its own
    // loop's time until that loop returns anyway.
    for (; count > 0 && !*abandoned; --count) {
        std::shared_ptr<PictureOutcome> outcome;
        {
            std::lock_guard lock(arrivedMutex_);
            const bool current = !*arrived_.front().second;
            outcome = std::move(arrived_.front().first);
            arrived_.pop_front();
            if (!current) {
                continue;  // of an abandoned batch: dropped, with its staged file
            }
        }
        handler_(std::move(*outcome));
    }
    if (*abandoned) {
        return;
    }
    std::lock_guard lock(arrivedMutex_);
    if (arrived_.empty()) {
        takeQueued_ = false;
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, abandoned] { takeArrived(abandoned); }, Qt::QueuedConnection);
}

void ConversionEngine::abandon() {
    *abandoned_ = true;
    pool_.clear();
    pool_.waitForDone();
    flusher_.abandon();
    pool_.clear();  // a naming the last flush queued
    pool_.waitForDone();
    {
        std::lock_guard lock(namingMutex_);
        naming_.clear();
        namingQueued_ = false;
    }
    {
        std::lock_guard lock(arrivedMutex_);
        arrived_.clear();
        takeQueued_ = false;  // a call queued for the abandoned batch returns at once
    }
    abandoned_ = std::make_shared<std::atomic<bool>>(false);
    budget_->jobsEnd(inFlight_.exchange(0));  // the jobs dropped unstarted never ended
}
