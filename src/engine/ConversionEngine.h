#pragma once

#include "base/RuntimeError.h"
#include "engine/ConversionSettings.h"
#include "engine/MemoryBudget.h"
#include "engine/OrderedPool.h"
#include "engine/PictureLoader.h"
#include "engine/output/AtomicFile.h"
#include "engine/output/GroupFlusher.h"
#include "filter/BlackWhiteFilter.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// How many jobs a caller that takes the outcomes in its own order may give the engine ahead of
// the first unfinished one, per worker: enough that a big picture at the head does not leave the
// other workers idle, and for bigger files to be started first; few enough to bound the staged
// files waiting for their turn.
inline constexpr int kJobsAheadPerWorker = 32;

// What the open files a process may have allow: each job given ahead keeps one (its source, then
// its staged output) and each worker one more (its thread's event dispatcher), beside
// kReservedFiles for the rest (Qt and the libraries, the standard streams, a report, a folder
// walk, committed files waiting to be closed).
struct JobRoom {
    int workers;  // no more than asked for, at least 1
    int ahead;    // jobs given ahead per worker: kJobsAheadPerWorker, or fewer where files are few
};
inline constexpr int kReservedFiles = 128;
JobRoom RoomForJobs(int workers, std::uint64_t openFiles);

// One picture's work, as its caller hands it over.
struct PictureJob {
    enum class Format { Jpeg, Png };

    int item = 0;  // the caller's number for it, handed back with the outcome
    QString sourcePath;
    // A folder below the output folder to write into, created as needed ("a/b"); "" for the
    // output folder itself.
    QString outputSubfolder;
    Format format = Format::Jpeg;
    // The thresholds, the quality and the output folder, taken when a worker begins the picture.
    // Shared with the caller, who may change them meanwhile; never null.
    std::shared_ptr<const CurrentSettings> settings;
    // Begun before every job that waits, whatever it costs: one the caller waits for.
    bool first = false;
    // Whether the output carries the source's capture data (PictureFormat::captureData).
    bool carryCaptureData = true;
    // Whether the output takes its name as soon as it is durable, on a worker (the next one free),
    // rather than from the caller in its turn: for a caller that takes every outcome as it
    // comes and whose outputs all have names of their own.
    bool nameWhenDurable = false;
};

// The stage of a picture's work that failed. `Start` is the caller's own, before the job
// reached the engine.
enum class PictureStage { None, Start, Load, Filter, Encode, Write };

// What became of a job: either its output, finished and staged beside its target, or the stage
// that failed and why.
struct PictureOutcome {
    int item = 0;
    PictureStage failedStage = PictureStage::None;
    RuntimeError failure{0, ""};
    std::optional<StagedFile> file;
    double milliseconds = 0;  // the worker's time on it
    // What it was made from and with: the job's source, the settings the worker took, and the
    // output file's path once it was known ("" before).
    QString sourcePath;
    std::optional<FileStamp> sourceStamp;  // the source as it was read; none when it was not
    ConversionSettings settings;
    QString outputPath;
    // The file has taken its name already (PictureJob::nameWhenDurable); `file` is then empty.
    bool named = false;
    // Why the source's capture data, or a part of it, was not carried (CaptureData::leftOut); ""
    // when all of it was, or none was asked for.
    QString captureDataLeftOut;

    bool failed() const { return failedStage != PictureStage::None; }
};

// Runs jobs on a pool of worker threads, as many as the machine has cores unless told otherwise:
// load, filter, encode, stage the output file; another thread then flushes it to the disk
// (GroupFlusher). A worker
// holds a band of a JPEG's rows, or one whole decoded picture for the others. Before it decodes,
// a job takes the memory its header says it needs from the engine's MemoryBudget, so that the
// workers together stay within it however big the pictures are.
//
// Among the jobs waiting, those expected to cost most start first (PictureProbe::costEstimate:
// the pixels, and for a JPEG whether it is progressive and how its colour is sampled), so that a
// batch ends on cheap pictures that keep every worker busy to the end, not on a costly one that
// runs alone.
// Outcomes are handed to the handler on the thread that made the engine, in the order the jobs
// finish (which need not be the order they were given). The engine is used from that thread only.
class ConversionEngine : public QObject {
  public:
    using OutcomeHandler = std::function<void(PictureOutcome&&)>;

    // `memoryBytes`: the budget; 0 for MemoryBudget::defaultBytes().
    explicit ConversionEngine(OutcomeHandler handler, int workers = 0,
                              std::uint64_t memoryBytes = 0);
    // Abandons whatever still runs.
    ~ConversionEngine() override;

    void submit(PictureJob job);
    // Closes a committed output file (CommitOutputFile) on another thread, soon.
    void closeLater(FileDescriptor file) { flusher_.close(std::move(file)); }
    // Closes those handed to closeLater() now.
    void closeWaiting() { flusher_.closeWaiting(); }
    int workers() const { return pool_.maxThreadCount(); }
    // The jobs a caller may give ahead of the first unfinished one, for all workers together.
    int jobsAhead() const { return jobsAhead_; }
    const MemoryBudget& budget() const { return *budget_; }
    // The same budget, for others that take their share beside the jobs (the preview).
    std::shared_ptr<MemoryBudget> sharedBudget() const { return budget_; }

    // Drops the jobs not started, abandons the running ones at their next step, and returns when
    // no worker runs any more. Nothing that was not handed out stays: staged files of abandoned
    // jobs are removed, and their outcomes never reach the handler. The engine can be used again.
    void abandon();

  private:
    // Queues the conversion of a job whose header has been read.
    // `opened`: the source, opened by the look at its header; null or empty to open it here.
    void convert(PictureJob job, int priority, const std::shared_ptr<std::atomic<bool>>& abandoned,
                 std::shared_ptr<std::optional<OpenedPicture>> opened);
    void deliver(const std::shared_ptr<PictureOutcome>& outcome,
                 const std::shared_ptr<std::atomic<bool>>& abandoned);
    // A durable file whose job names it at once: named on a worker, a few at a time, then
    // delivered.
    void nameLater(const std::shared_ptr<PictureOutcome>& outcome,
                   const std::shared_ptr<std::atomic<bool>>& abandoned);
    void nameWaiting(const std::shared_ptr<std::atomic<bool>>& abandoned);
    // Hands the outcomes that arrived to the handler, on the engine's thread.
    void takeArrived(std::shared_ptr<std::atomic<bool>> abandoned);

    OutcomeHandler handler_;
    // Outcomes on their way to the engine's thread, with their batch's flag: one queued call
    // takes all that come before it runs, so that a group of files flushed together wakes that
    // thread once, not once a file.
    std::mutex arrivedMutex_;
    std::deque<std::pair<std::shared_ptr<PictureOutcome>, std::shared_ptr<std::atomic<bool>>>>
        arrived_;
    bool takeQueued_ = false;
    // Durable files waiting for a worker to give them their names.
    std::mutex namingMutex_;
    std::deque<std::shared_ptr<PictureOutcome>> naming_;
    bool namingQueued_ = false;
    OrderedPool pool_;  // among equal costs, the jobs in their items' order
    int jobsAhead_ = 0;
    // Jobs given and not yet converted: the workers they leave idle are lent to their decoders.
    std::atomic<int> inFlight_{0};
    // Flushes staged files to the disk, so that the workers never wait on it.
    GroupFlusher flusher_;
    // Raised by abandon(); each batch of jobs shares one.
    std::shared_ptr<std::atomic<bool>> abandoned_;
    std::shared_ptr<MemoryBudget> budget_;
};

// The work of one job with the settings given, on the calling thread, within `budget`;
// `abandoned` is looked at between the steps, and an abandoned job returns with no file.
// `opened`: the job's source opened already (OpenPicture), or nothing to open it here.
PictureOutcome ConvertPicture(const PictureJob& job, const ConversionSettings& settings,
                              const std::atomic<bool>& abandoned, MemoryBudget& budget,
                              std::optional<OpenedPicture> opened = std::nullopt);

// Hands the memory that malloc holds free, between pictures, back to the system: for the end of a
// batch, so that an idle program does not hold it. Thread-safe.
void ReleaseFreeMemory();

// A job's source picture as the engine converts it: read and decoded whole, upright. Raises the
// failure the engine reports for it (step Load). Thread-safe.
BgrxImage LoadSourcePicture(const QString& sourcePath);

// The same in two steps, for a caller that looks at the file before it decodes it: read, with
// its header checked (ReadPicture), then DecodePicture(content, name). `name` is the file's name
// as the failures give it.
struct SourceContent {
    PictureContent content;
    QString name;
};
SourceContent ReadSourcePicture(const QString& sourcePath);
