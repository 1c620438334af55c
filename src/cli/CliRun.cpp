#include "cli/CliRun.h"

#include "base/FileExists.h"
#include "base/PathBytes.h"
#include "base/Trap.h"
#include "cli/CliInputs.h"
#include "cli/CliOptions.h"
#include "cli/ConsoleDialogs.h"
#include "cli/RunReport.h"
#include "cli/SheetRun.h"
#include "engine/AtomicFile.h"
#include "engine/BatchPaths.h"
#include "engine/OrderedBatch.h"
#include "imagelist/AddFolder.h"
#include "imagelist/CleanPath.h"
#include "imagelist/SampleFiles.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <set>

namespace {

QByteArray local(const QString& text) {
    return PathBytes(text);
}

// The reason without the "Cannot load PATH: " that the line already says, with the system's own
// reason when the description is fixed text.
QString reasonFor(const QString& path, const RuntimeError& failure) {
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
        std::FILE* err, bool progressBar)
        : options_(options),
          inputs_(inputs),
          report_(report),
          err_(err),
          progressBar_(progressBar),
          batch_(*this, options.jobs, std::uint64_t(options.memoryMegabytes) << 20) {}

    // Converts everything; answers how many failed.
    int convert() {
        batch_.start(static_cast<int>(inputs_.size()));
        if (batch_.running()) {
            loop_.exec();
        }
        if (progressBar_) {
            std::fprintf(err_, "\r\033[K");
        }
        return failed_;
    }
    int converted() const { return converted_; }
    // The outputs that a later input of this run replaced, in the order it happened.
    const QStringList& replaced() const { return replaced_; }

  private:
    PictureJob jobFor(int item) override {
        PictureJob job;
        job.sourcePath = inputs_.at(item).path;
        if (options_.keepTree) {
            job.outputSubfolder = inputs_.at(item).subfolder;
        }
        job.format = options_.format;
        job.settings = settings_;
        return job;
    }

    void takeUp(int item, PictureOutcome& outcome) override {
        const CliInput& input = inputs_.at(item);
        const QString output = OutputPathOf(options_, input);
        if (!outcome.failed()) {
            ++converted_;
            if (!written_.insert(output).second) {
                replaced_.append(output);
            }
            report_.add(input.path, output, "converted", {}, outcome.milliseconds);
        } else {
            ++failed_;
            const QString reason = reasonFor(input.path, outcome.failure);
            if (progressBar_) {
                std::fprintf(err_, "\r\033[K");
            }
            std::fprintf(err_, "%s: %s\n", local(input.path).constData(),
                         local(reason).constData());
            report_.add(input.path, output, "failed", reason, outcome.milliseconds);
        }
        showProgress(item + 1);
    }

    void finished() override { loop_.quit(); }

    void showProgress(qsizetype done) {
        if (!progressBar_) {
            return;
        }
        const int width = 30;
        const auto filled = static_cast<int>(width * done / static_cast<qsizetype>(inputs_.size()));
        std::fprintf(err_, "\r[%s%s] %lld/%lld", QByteArray(filled, '#').constData(),
                     QByteArray(width - filled, '.').constData(), static_cast<long long>(done),
                     static_cast<long long>(inputs_.size()));
        std::fflush(err_);
    }

    const CliOptions& options_;
    const std::vector<CliInput>& inputs_;
    RunReport& report_;
    std::FILE* err_;
    bool progressBar_;
    OrderedBatch batch_;
    const std::shared_ptr<const CurrentSettings> settings_ = std::make_shared<CurrentSettings>(
        ConversionSettings{options_.thresholds, options_.quality, options_.outputFolder});
    QEventLoop loop_;
    int converted_ = 0;
    int failed_ = 0;
    std::set<QString> written_;
    QStringList replaced_;
};

}  // namespace

namespace {

using Identity = std::pair<dev_t, ino_t>;

std::optional<Identity> identityOf(const QString& path) {
    struct stat info {};
    if (::stat(PathBytes(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return Identity{info.st_dev, info.st_ino};
}

// The inputs whose output would take the place of another input of this run (a.bmp, when
// a-grayscale.jpg is an input too and the output folder is theirs): converting them would
// destroy that input.
std::vector<CliInput> replacingAnInput(const CliOptions& options,
                                       const std::vector<CliInput>& inputs) {
    std::set<Identity> given;
    for (const CliInput& input : inputs) {
        if (const auto identity = identityOf(input.path)) {
            given.insert(*identity);
        }
    }
    std::vector<CliInput> replacing;
    for (const CliInput& input : inputs) {
        const auto output = identityOf(OutputPathOf(options, input));
        if (output && given.count(*output) != 0) {
            replacing.push_back(input);
        }
    }
    return replacing;
}

// Whether the output of `input` exists and was written after its source last changed.
bool upToDate(const CliOptions& options, const CliInput& input) {
    struct stat source {};
    struct stat output {};
    if (::stat(PathBytes(input.path).constData(), &source) != 0 ||
        ::stat(PathBytes(OutputPathOf(options, input)).constData(), &output) != 0) {
        return false;
    }
    return output.st_mtim.tv_sec > source.st_mtim.tv_sec ||
           (output.st_mtim.tv_sec == source.st_mtim.tv_sec &&
            output.st_mtim.tv_nsec > source.st_mtim.tv_nsec);
}

// Whether everything printed on `out` reached it.
bool flushed(std::FILE* out, std::FILE* err) {
    if (std::fflush(out) == 0 && !std::ferror(out)) {
        return true;
    }
    std::fprintf(err, "tonvaler-cli: cannot write the output: %s\n", std::strerror(errno));
    return false;
}

}  // namespace

int RunCli(const CliOptions& options, const QString& programFolder, std::FILE* out, std::FILE* err,
           bool progressBar) {
    if (!options.sheet.isEmpty()) {
        return RunSheet(options, out, err);
    }
    if (!options.shardFrom.isEmpty()) {
        std::fprintf(err, "tonvaler-cli: shard %d/%d, from %s\n", options.shard, options.shardCount,
                     options.shardFrom.toLatin1().constData());
    }
    QStringList missing;
    std::vector<CliInput> inputs;
    try {
        inputs = GatherInputs(options, programFolder, missing);
    } catch (const RuntimeError& e) {
        std::fprintf(err, "tonvaler-cli: cannot read the list of files: %s\n", e.what());
        return 2;
    }
    if (options.samples && !std::any_of(inputs.begin(), inputs.end(), [&](const CliInput& i) {
            return i.path.startsWith(SamplesFolder(programFolder));
        })) {
        std::fprintf(err, "tonvaler-cli: no sample pictures in \"%s\"\n",
                     local(SamplesFolder(programFolder)).constData());
        return 1;
    }
    if (options.dryRun) {
        for (const CliInput& input : inputs) {
            std::fprintf(out, "%s\n", local(input.path).constData());
        }
        return flushed(out, err) ? 0 : 1;
    }
    if (!FolderExists(options.outputFolder)) {
        const bool file = QFileInfo(options.outputFolder).isFile();
        std::fprintf(err, "tonvaler-cli: the output folder \"%s\" %s\n",
                     local(options.outputFolder).constData(),
                     file ? "is a file, not a folder" : "does not exist");
        return 2;
    }
    std::optional<RunReport> report;
    try {
        report.emplace(options.report);
    } catch (const RuntimeError& e) {
        std::fprintf(err, "tonvaler-cli: cannot write the report: %s\n", e.what());
        return 2;
    }
    // What an ended run left half done, in the output folder and in the folders below it that
    // this run writes to.
    RemoveStagedLeftovers(options.outputFolder);
    if (options.keepTree) {
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
    for (const QString& path : missing) {
        std::fprintf(err, "%s: No such file or directory\n", local(path).constData());
        report->add(path, {}, "failed", QStringLiteral("No such file or directory"), 0);
    }
    const std::vector<CliInput> replacing = replacingAnInput(options, inputs);
    for (const CliInput& input : replacing) {
        const char* reason = "its output would replace another input of this run";
        std::fprintf(err, "%s: %s\n", local(input.path).constData(), reason);
        report->add(input.path, OutputPathOf(options, input), "failed", QString::fromLatin1(reason),
                    0);
        std::erase_if(inputs, [&](const CliInput& i) { return i.path == input.path; });
    }
    int skipped = 0;
    if (options.skipExisting) {
        std::erase_if(inputs, [&](const CliInput& input) {
            if (!upToDate(options, input)) {
                return false;
            }
            ++skipped;
            report->add(input.path, OutputPathOf(options, input), "skipped",
                        QStringLiteral("its output is newer than it"), 0);
            return true;
        });
    }
    Run run(options, inputs, *report, err, progressBar);
    const int failed =
        run.convert() + static_cast<int>(missing.size()) + static_cast<int>(replacing.size());
    const QStringList& replaced = run.replaced();
    if (!replaced.isEmpty()) {
        QStringList named = replaced.mid(0, 3);
        for (QString& name : named) {
            name = GetFileName(name);
        }
        std::fprintf(err,
                     "tonvaler-cli: %lld output(s) replaced by a later input of this run (%s%s)\n",
                     static_cast<long long>(replaced.size()),
                     local(named.join(QStringLiteral(", "))).constData(),
                     replaced.size() > 3 ? ", ..." : "");
    }
    if (skipped > 0) {
        std::fprintf(out, "%d converted, %d failed, %d skipped\n", run.converted(), failed,
                     skipped);
    } else {
        std::fprintf(out, "%d converted, %d failed\n", run.converted(), failed);
    }
    return flushed(out, err) && failed == 0 ? 0 : 1;
}
