#include "cli/CliRun.h"

#include "base/FileExists.h"
#include "base/PathBytes.h"
#include "cli/CliInputs.h"
#include "cli/CliOptions.h"
#include "cli/ProgressLine.h"
#include "cli/RunPlan.h"
#include "cli/RunReport.h"
#include "cli/SheetRun.h"
#include "cli/SourceTime.h"
#include "engine/BatchPaths.h"
#include "engine/OrderedBatch.h"
#include "engine/output/AtomicFile.h"
#include "engine/output/SaveFailure.h"
#include "imagelist/SampleFiles.h"

#include <QEventLoop>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <set>

namespace {

QByteArray local(const QString& text) {
    return PathBytes(text);
}

// What went wrong in saving `output`, in the command line's words: what could not be done to
// which file, and the system's reason ("cannot write out/a-grayscale.jpg: No space left on
// device").
QString saveReason(SaveStatus status, const QString& output, const RuntimeError& failure) {
    QString reason;
    switch (status) {
        case SaveStatus::CannotCreateFile:
            reason = QStringLiteral("cannot create ");
            break;
        case SaveStatus::CannotWriteFile:
            reason = QStringLiteral("cannot write ");
            break;
        case SaveStatus::CannotReplaceFile:
            reason = QStringLiteral("cannot save ");
            break;
        default:
            reason = QStringLiteral("cannot encode ");
            break;
    }
    reason += output;
    if (!failure.cause().empty()) {
        reason += QStringLiteral(": ") + QString::fromStdString(failure.cause());
    }
    return reason;
}

// The reason without the "Cannot load PATH: " that the line already says, with the system's own
// reason when the description is fixed text; a failure to save names the output.
QString reasonFor(const QString& path, const QString& output, const RuntimeError& failure) {
    if (const std::optional<SaveStatus> status = SaveStatusOf(failure)) {
        return saveReason(*status, output, failure);
    }
    QString reason = QString::fromStdString(failure.description());
    const QString lead = QStringLiteral("Cannot load ") + path + QStringLiteral(": ");
    if (reason.startsWith(lead)) {
        reason = reason.mid(lead.size());
    }
    if (!failure.cause().empty()) {
        reason += QStringLiteral(" (") + QString::fromStdString(failure.cause()) + ')';
    }
    return reason;
}

class Run : private OrderedBatch::Client {
  public:
    Run(const CliOptions& options, const std::vector<CliInput>& inputs, RunReport& report,
        std::FILE* err, ProgressLine::Shown progress, int failedBefore)
        : options_(options),
          inputs_(inputs),
          report_(report),
          err_(err),
          progress_(err, progress, static_cast<std::int64_t>(inputs.size()), failedBefore),
          batch_(*this, options.jobs, std::uint64_t(options.memoryMegabytes) << 20) {}

    // Converts everything; answers how many failed.
    int convert() {
        if (batch_.workers() < options_.jobs) {
            struct rlimit limit {};
            ::getrlimit(RLIMIT_NOFILE, &limit);
            std::fprintf(err_, "-j %d is more than %llu open files allow (ulimit -n): %d at once\n",
                         options_.jobs, static_cast<unsigned long long>(limit.rlim_cur),
                         batch_.workers());
        }
        progress_.start();
        batch_.start(static_cast<int>(inputs_.size()));
        if (batch_.running()) {
            loop_.exec();
        }
        progress_.end();
        return failed_;
    }
    int converted() const { return converted_; }

  private:
    PictureJob jobFor(int item) override {
        PictureJob job;
        job.sourcePath = inputs_.at(item).path;
        if (options_.keepTree) {
            job.outputSubfolder = inputs_.at(item).subfolder;
        }
        job.format = options_.format;
        job.carryCaptureData = !options_.stripMetadata;
        job.settings = settings_;
        return job;
    }

    void takeUp(int item, PictureOutcome& outcome) override {
        const CliInput& input = inputs_.at(item);
        const QString output = OutputPathOf(options_, input);
        // The time only once the file is whole and named: a file cut short by a stop never
        // looks as old as its source.
        const QString untimed = !outcome.failed() && options_.keepTime
                                    ? GiveSourceTime(input.path, outcome.sourceStamp, output)
                                    : QString();
        const bool failed = outcome.failed() || !untimed.isEmpty();
        progress_.taken(failed);
        if (!failed) {
            ++converted_;
            report_.add(input.path, output, "converted", {}, outcome.milliseconds,
                        outcome.captureDataLeftOut);
        } else {
            ++failed_;
            const QString reason =
                outcome.failed() ? reasonFor(input.path, output, outcome.failure) : untimed;
            progress_.say(local(input.path) + ": " + local(reason) + '\n');
            report_.add(input.path, output, "failed", reason, outcome.milliseconds);
        }
    }

    void finished() override { loop_.quit(); }
    // The plan gives each input an output of its own, and nothing changes during the run.
    bool namesAsSoonAsDurable() const override { return true; }

    const CliOptions& options_;
    const std::vector<CliInput>& inputs_;
    RunReport& report_;
    std::FILE* err_;
    ProgressLine progress_;
    OrderedBatch batch_;
    const std::shared_ptr<const CurrentSettings> settings_ = std::make_shared<CurrentSettings>(
        ConversionSettings{options_.thresholds, options_.quality, options_.outputFolder});
    QEventLoop loop_;
    int converted_ = 0;
    int failed_ = 0;
};

// The lines of what the plan leaves out: "PATH: reason" on `err` for each failure, one line for
// those whose output a later input writes; and their report lines. Answers how many failed.
int sayLeftOut(const RunPlan& plan, std::FILE* err, RunReport* report) {
    for (const CliLeftOut& f : plan.failed) {
        std::fprintf(err, "%s: %s\n", local(f.path).constData(), local(f.reason).constData());
        if (report) {
            report->add(f.path, f.output, "failed", f.reason, 0);
        }
    }
    if (!plan.sameOutput.empty()) {
        QStringList named;
        for (std::size_t i = 0; i < plan.sameOutput.size() && i < 3; ++i) {
            named.append(GetFileName(plan.sameOutput[i].path));
        }
        std::fprintf(err,
                     "tonvaler-cli: %zu input(s) not converted: a later input of this run has the "
                     "same output (%s%s)\n",
                     plan.sameOutput.size(), local(named.join(QStringLiteral(", "))).constData(),
                     plan.sameOutput.size() > 3 ? ", ..." : "");
    }
    if (report) {
        for (const auto* list : {&plan.sameOutput, &plan.upToDate}) {
            for (const CliLeftOut& s : *list) {
                report->add(s.path, s.output, "skipped", s.reason, 0);
            }
        }
    }
    return static_cast<int>(plan.failed.size());
}

// Whether everything printed on `out` reached it.
bool flushed(std::FILE* out, std::FILE* err) {
    if (std::fflush(out) == 0 && !std::ferror(out)) {
        return true;
    }
    std::fprintf(err, "tonvaler-cli: cannot write the output: %s\n", std::strerror(errno));
    return false;
}

// 0 when this process may reach `path` so (W_OK, say) with its own rights, else why not.
int refusal(const QByteArray& path, int mode) {
    return ::faccessat(AT_FDCWD, path.constData(), mode, AT_EACCESS) == 0 ? 0 : errno;
}

// Whether the output folder is there and takes new files; if not, a line on `err` says why.
bool outputFolderThere(const CliOptions& options, std::FILE* err) {
    const QByteArray folder = local(options.outputFolder);
    if (FolderExists(options.outputFolder)) {
        const int why = refusal(folder, W_OK | X_OK);
        if (why == 0) {
            return true;
        }
        std::fprintf(err, "tonvaler-cli: the output folder \"%s\" cannot be written: %s\n",
                     folder.constData(), std::strerror(why));
        return false;
    }
    const bool file = QFileInfo(options.outputFolder).isFile();
    std::fprintf(err, "tonvaler-cli: the output folder \"%s\" %s\n", folder.constData(),
                 file ? "is a file, not a folder" : "does not exist");
    return false;
}

// Why a report could not be made at `path` ("" when it could, or when there is none), without
// making it.
QString cannotWrite(const QString& path) {
    if (path.isEmpty()) {
        return {};
    }
    const QByteArray bytes = local(path);
    struct stat info {};
    int why = 0;
    if (::stat(bytes.constData(), &info) == 0) {
        why = S_ISDIR(info.st_mode) ? EISDIR : refusal(bytes, W_OK);
    } else if (errno != ENOENT) {
        why = errno;
    } else {
        why = refusal(local(QFileInfo(path).path()), W_OK | X_OK);
    }
    return why == 0 ? QString() : QString::fromLocal8Bit(std::strerror(why));
}

// What an ended run left half done, in the output folder and in the folders below it that this
// run writes to.
void removeLeftovers(const CliOptions& options, const std::vector<CliInput>& inputs) {
    RemoveStagedLeftovers(options.outputFolder);
    if (!options.keepTree) {
        return;
    }
    std::set<QString> folders;
    for (const CliInput& input : inputs) {
        if (!input.subfolder.isEmpty()) {
            folders.insert(options.outputFolder + QLatin1Char('/') + input.subfolder);
        }
    }
    for (const QString& folder : folders) {
        if (FolderExists(folder)) {
            RemoveStagedLeftovers(folder);
        }
    }
}

}  // namespace

int RunCli(const CliOptions& options, const QString& programFolder, std::FILE* out, std::FILE* err,
           bool errIsTerminal) {
    if (!options.sheet.isEmpty()) {
        return RunSheet(options, out, err);
    }
    // 1. Where this process's share comes from, when the environment gave it.
    if (!options.shardFrom.isEmpty()) {
        std::fprintf(err, "tonvaler-cli: shard %d/%d, from %s\n", options.shard, options.shardCount,
                     options.shardFrom.toLatin1().constData());
    }
    // 2. The plan: gather, check the whole run, take the shard, skip what exists.
    RunPlan plan;
    try {
        plan = PlanRun(options, programFolder);
    } catch (const RuntimeError& e) {
        std::fprintf(err, "tonvaler-cli: cannot read the list of files: %s\n", e.what());
        return 2;
    }
    if (options.samples && !plan.samplesFound) {
        std::fprintf(err, "tonvaler-cli: no sample pictures in \"%s\"\n",
                     local(SamplesFolder(programFolder)).constData());
        return 1;
    }
    // 3. Where the outputs go, for a dry run too: it says what the run would do.
    if (!outputFolderThere(options, err)) {
        return 2;
    }
    if (!options.report.isEmpty() && PartOfRun(plan, options.report)) {
        std::fprintf(err,
                     "tonvaler-cli: the report \"%s\" would replace an input or an output of "
                     "this run\n",
                     local(options.report).constData());
        return 2;
    }
    if (const QString problem = ShardsSeeEachOther(options, plan); !problem.isEmpty()) {
        std::fprintf(err, "tonvaler-cli: %s\n", local(problem).constData());
        return 2;
    }
    // 4. A dry run prints what would be converted, and what would not, and stops.
    if (options.dryRun) {
        if (const QString why = cannotWrite(options.report); !why.isEmpty()) {
            std::fprintf(err, "tonvaler-cli: cannot write the report: %s: %s\n",
                         local(why).constData(), local(options.report).constData());
            return 2;
        }
        const int failed = sayLeftOut(plan, err, nullptr);
        if (!plan.upToDate.empty()) {
            std::fprintf(err, "tonvaler-cli: %zu input(s) skipped: their outputs %s\n",
                         plan.upToDate.size(), options.keepTime ? "have their times" : "are newer");
        }
        for (const CliInput& input : plan.inputs) {
            std::fprintf(out, "%s\n", local(input.path).constData());
        }
        return flushed(out, err) && failed == 0 ? 0 : 1;
    }
    // 5. The report, what an ended run left, and what the plan leaves out.
    std::optional<RunReport> report;
    try {
        report.emplace(options.report);
    } catch (const RuntimeError& e) {
        std::fprintf(err, "tonvaler-cli: cannot write the report: %s\n", e.what());
        return 2;
    }
    removeLeftovers(options, plan.inputs);
    int failed = sayLeftOut(plan, err, &*report);
    // 6. The conversions.
    using Progress = CliOptions::Progress;
    const ProgressLine::Shown progress =
        options.progress == Progress::Never    ? ProgressLine::Shown::No
        : errIsTerminal                        ? ProgressLine::Shown::OnTerminal
        : options.progress == Progress::Always ? ProgressLine::Shown::AsLines
                                               : ProgressLine::Shown::No;
    Run run(options, plan.inputs, *report, err, progress, failed);
    failed += run.convert();
    // 7. What the run did.
    const int skipped = static_cast<int>(plan.sameOutput.size() + plan.upToDate.size());
    if (skipped > 0) {
        std::fprintf(out, "%d converted, %d failed, %d skipped\n", run.converted(), failed,
                     skipped);
    } else {
        std::fprintf(out, "%d converted, %d failed\n", run.converted(), failed);
    }
    const QString unwritten = report->finish();
    if (!unwritten.isEmpty()) {
        std::fprintf(err, "tonvaler-cli: cannot write the report \"%s\": %s\n",
                     local(options.report).constData(), local(unwritten).constData());
    }
    return flushed(out, err) && failed == 0 && unwritten.isEmpty() ? 0 : 1;
}
