#include "cli/CliRun.h"

#include "cli/CliOptions.h"
#include "cli/ConsoleDialogs.h"
#include "convert/AtomicFile.h"
#include "convert/BatchPaths.h"
#include "convert/ConversionEngine.h"
#include "convert/JpegWriter.h"
#include "imagelist/AddFolder.h"
#include "imagelist/CleanPath.h"
#include "imagelist/SampleFiles.h"
#include "shell/Trap.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>

#include <sys/stat.h>

#include <deque>

namespace {

QByteArray local(const QString& text) {
    return text.toLocal8Bit();
}

// The reason without the "Cannot load PATH: " that the line already says.
QString reasonFor(const QString& path, const std::string& description) {
    QString reason = QString::fromStdString(description);
    const QString lead = QStringLiteral("Cannot load ") + path + QStringLiteral(": ");
    return reason.startsWith(lead) ? reason.mid(lead.size()) : reason;
}

class Run {
  public:
    Run(const CliOptions& options, const QStringList& inputs, std::FILE* err, bool progressBar)
        : options_(options),
          inputs_(inputs),
          err_(err),
          progressBar_(progressBar),
          engine_([this](PictureOutcome&& o) { arrived(std::move(o)); }, options.jobs,
                  std::uint64_t(options.memoryMegabytes) << 20) {}

    // Converts everything; answers how many failed.
    int convert() {
        if (inputs_.isEmpty()) {
            return 0;
        }
        startMore();
        loop_.exec();
        if (progressBar_) {
            std::fprintf(err_, "\r\033[K");
        }
        return failed_;
    }
    int converted() const { return converted_; }

  private:
    void startMore() {
        const qsizetype ahead = kJobsAheadPerWorker * static_cast<qsizetype>(engine_.workers());
        while (next_ < inputs_.size() && next_ - head_ < ahead) {
            PictureJob job;
            job.pass = static_cast<int>(next_);
            job.sourcePath = inputs_.at(next_);
            job.format = options_.format;
            job.settings = settings_;
            waiting_.emplace_back();
            engine_.submit(std::move(job));
            ++next_;
        }
    }

    void arrived(PictureOutcome&& outcome) {
        waiting_[static_cast<std::size_t>(outcome.pass - head_)] = std::move(outcome);
        // In input order: each file takes its name in its turn.
        while (!waiting_.empty() && waiting_.front()) {
            PictureOutcome o = std::move(*waiting_.front());
            waiting_.pop_front();
            const QString& path = inputs_.at(head_++);
            if (o.failedStep == 0) {
                try {
                    CommitJpegFile(*o.file);
                } catch (const RuntimeError& e) {
                    o.failedStep = 152;
                    o.failure = e;
                }
            }
            if (o.failedStep == 0) {
                ++converted_;
            } else {
                ++failed_;
                if (progressBar_) {
                    std::fprintf(err_, "\r\033[K");
                }
                std::fprintf(err_, "%s: %s\n", local(path).constData(),
                             local(reasonFor(path, o.failure.description())).constData());
            }
            showProgress();
        }
        startMore();
        if (head_ == inputs_.size()) {
            loop_.quit();
        }
    }

    void showProgress() {
        if (!progressBar_) {
            return;
        }
        const int width = 30;
        const auto done = static_cast<int>(width * head_ / inputs_.size());
        std::fprintf(err_, "\r[%s%s] %lld/%lld", QByteArray(done, '#').constData(),
                     QByteArray(width - done, '.').constData(), static_cast<long long>(head_),
                     static_cast<long long>(inputs_.size()));
        std::fflush(err_);
    }

    const CliOptions& options_;
    const QStringList& inputs_;
    std::FILE* err_;
    bool progressBar_;
    ConversionEngine engine_;
    const std::shared_ptr<const CurrentSettings> settings_ = std::make_shared<CurrentSettings>(
        ConversionSettings{options_.thresholds, options_.quality, options_.outputFolder});
    QEventLoop loop_;
    std::deque<std::optional<PictureOutcome>> waiting_;  // inputs head_ .. next_ - 1
    qsizetype head_ = 0;
    qsizetype next_ = 0;
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
        if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
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

int RunCli(const CliOptions& options, const QString& programFolder, std::FILE* out, std::FILE* err,
           bool progressBar) {
    QStringList missing;
    const QStringList inputs = GatherInputs(options, programFolder, missing);
    if (options.dryRun) {
        for (const QString& path : inputs) {
            std::fprintf(out, "%s\n", local(path).constData());
        }
        return 0;
    }
    if (!FolderExists(options.outputFolder)) {
        std::fprintf(err, "tonvaler-cli: the output folder \"%s\" does not exist\n",
                     local(options.outputFolder).constData());
        return 2;
    }
    RemoveStagedLeftovers(options.outputFolder);  // what an ended run left half done
    for (const QString& path : missing) {
        std::fprintf(err, "%s: No such file or directory\n", local(path).constData());
    }
    Run run(options, inputs, err, progressBar);
    const int failed = run.convert() + static_cast<int>(missing.size());
    std::fprintf(out, "%d converted, %d failed\n", run.converted(), failed);
    return failed == 0 ? 0 : 1;
}
