#include "cli/CliRun.h"

#include "base/FileExists.h"
#include "base/PathBytes.h"
#include "base/Trap.h"
#include "cli/CliOptions.h"
#include "cli/ConsoleDialogs.h"
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
    Run(const CliOptions& options, const QStringList& inputs, std::FILE* err, bool progressBar)
        : options_(options),
          inputs_(inputs),
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

  private:
    PictureJob jobFor(int item) override {
        PictureJob job;
        job.sourcePath = inputs_.at(item);
        job.format = options_.format;
        job.settings = settings_;
        return job;
    }

    void takeUp(int item, PictureOutcome& outcome) override {
        if (!outcome.failed()) {
            ++converted_;
        } else {
            ++failed_;
            const QString& path = inputs_.at(item);
            if (progressBar_) {
                std::fprintf(err_, "\r\033[K");
            }
            std::fprintf(err_, "%s: %s\n", local(path).constData(),
                         local(reasonFor(path, outcome.failure)).constData());
        }
        showProgress(item + 1);
    }

    void finished() override { loop_.quit(); }

    void showProgress(qsizetype done) {
        if (!progressBar_) {
            return;
        }
        const int width = 30;
        const auto filled = static_cast<int>(width * done / inputs_.size());
        std::fprintf(err_, "\r[%s%s] %lld/%lld", QByteArray(filled, '#').constData(),
                     QByteArray(width - filled, '.').constData(), static_cast<long long>(done),
                     static_cast<long long>(inputs_.size()));
        std::fflush(err_);
    }

    const CliOptions& options_;
    const QStringList& inputs_;
    std::FILE* err_;
    bool progressBar_;
    OrderedBatch batch_;
    const std::shared_ptr<const CurrentSettings> settings_ = std::make_shared<CurrentSettings>(
        ConversionSettings{options_.thresholds, options_.quality, options_.outputFolder});
    QEventLoop loop_;
    int converted_ = 0;
    int failed_ = 0;
};

}  // namespace

QStringList GatherInputs(const CliOptions& options, const QString& programFolder,
                         QStringList& missing) {
    QStringList inputs;
    ConsoleDialogs dialogs;
    FolderScan samples(dialogs, {});
    if (options.samples) {
        const QString folder = SamplesFolder(programFolder);
        if (QFileInfo(folder).isDir()) {
            for (const QString& name : samples.GetFilesInFolder(folder, QStringLiteral("*.*"))) {
                inputs.append(folder + QDir::separator() + name);
            }
        }
    }
    const QString pattern = options.extension.isEmpty() ? QStringLiteral("*.*")
                                                        : QStringLiteral("*.") + options.extension;
    for (const QString& path : options.paths) {
        struct stat info {};
        if (::stat(PathBytes(path).constData(), &info) != 0) {
            missing.append(path);
        } else if (S_ISDIR(info.st_mode)) {
            FolderScan scan(dialogs, {});
            Trap quiet([](const RuntimeError&, int) {});
            scan.CollectFolderFiles(path, pattern, quiet,
                                    [&](const QString& p) { inputs.append(CleanPath(p)); });
        } else {
            inputs.append(path);
        }
    }
    return inputs;
}

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
QStringList replacingAnInput(const CliOptions& options, const QStringList& inputs) {
    std::set<Identity> given;
    for (const QString& path : inputs) {
        if (const auto identity = identityOf(path)) {
            given.insert(*identity);
        }
    }
    const QString extension =
        options.format == PictureJob::Format::Png ? QStringLiteral("png") : QStringLiteral("jpg");
    QStringList replacing;
    for (const QString& path : inputs) {
        const auto output = identityOf(OutputPath(options.outputFolder, path, extension));
        if (output && given.count(*output) != 0) {
            replacing.append(path);
        }
    }
    return replacing;
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
    QStringList missing;
    QStringList inputs = GatherInputs(options, programFolder, missing);
    if (options.samples && !std::any_of(inputs.begin(), inputs.end(), [&](const QString& p) {
            return p.startsWith(SamplesFolder(programFolder));
        })) {
        std::fprintf(err, "tonvaler-cli: no sample pictures in \"%s\"\n",
                     local(SamplesFolder(programFolder)).constData());
        return 1;
    }
    if (options.dryRun) {
        for (const QString& path : inputs) {
            std::fprintf(out, "%s\n", local(path).constData());
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
    RemoveStagedLeftovers(options.outputFolder);  // what an ended run left half done
    for (const QString& path : missing) {
        std::fprintf(err, "%s: No such file or directory\n", local(path).constData());
    }
    const QStringList replacing = replacingAnInput(options, inputs);
    for (const QString& path : replacing) {
        std::fprintf(err, "%s: its output would replace another input of this run\n",
                     local(path).constData());
        inputs.removeOne(path);
    }
    Run run(options, inputs, err, progressBar);
    const int failed =
        run.convert() + static_cast<int>(missing.size()) + static_cast<int>(replacing.size());
    std::fprintf(out, "%d converted, %d failed\n", run.converted(), failed);
    return flushed(out, err) && failed == 0 ? 0 : 1;
}
