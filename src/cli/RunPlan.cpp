#include "cli/RunPlan.h"

#include "cli/SourceTime.h"

#include "base/FileExists.h"
#include "base/PathBytes.h"
#include "cli/CliOptions.h"
#include "cli/ParallelFor.h"
#include "imagelist/AddFolder.h"
#include "imagelist/SampleFiles.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <utility>

namespace {

using Identity = std::pair<dev_t, ino_t>;

std::optional<Identity> identityOf(const QString& path) {
    struct stat info {};
    if (::stat(PathBytes(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return Identity{info.st_dev, info.st_ino};
}

// -1, 0 or 1 as `a` is older than, as old as or newer than `b`.
int compared(const struct timespec& a, const struct timespec& b) {
    if (a.tv_sec != b.tv_sec) {
        return a.tv_sec < b.tv_sec ? -1 : 1;
    }
    return a.tv_nsec == b.tv_nsec ? 0 : a.tv_nsec < b.tv_nsec ? -1 : 1;
}

}  // namespace

RunPlan PlanRun(const CliOptions& options, const QString& programFolder) {
    RunPlan plan = GatherPlan(options, programFolder);
    CheckWholeRun(options, plan);
    TakeShard(options, plan);
    SkipExisting(options, plan);
    return plan;
}

RunPlan GatherPlan(const CliOptions& options, const QString& programFolder) {
    RunPlan plan;
    Gathered gathered = GatherInputs(options, programFolder);
    plan.inputs = std::move(gathered.inputs);
    plan.failed = std::move(gathered.failed);
    plan.folders = std::move(gathered.folders);
    const QString samples = SamplesFolder(programFolder);
    plan.samplesFound = std::any_of(plan.inputs.begin(), plan.inputs.end(),
                                    [&](const CliInput& i) { return i.path.startsWith(samples); });
    return plan;
}

namespace {

// `here`: the current folder, looked up once for a whole list (each lookup asks the system).
QString absolute(const QString& path, const QDir& here = QDir::current()) {
    return QDir::cleanPath(here.absoluteFilePath(path));
}

// Whether `folder` is `above` or lies below it, links followed.
bool within(const QString& folder, const QString& above) {
    QString at = QFileInfo(folder).canonicalFilePath();
    while (!at.isEmpty()) {
        if (SameFile(at, above)) {
            return true;
        }
        if (at == QLatin1String("/")) {
            return false;
        }
        at = QFileInfo(at).path();
    }
    return false;
}

}  // namespace

bool PartOfRun(const RunPlan& plan, const QString& path) {
    const auto identity = identityOf(path);
    return (identity && plan.wholeFiles.count(*identity) != 0) ||
           plan.wholeOutputs.count(absolute(path)) != 0;
}

QString ShardsSeeEachOther(const CliOptions& options, const RunPlan& plan) {
    const QString extension =
        options.format == PictureJob::Format::Png ? QStringLiteral("png") : QStringLiteral("jpg");
    const QString pattern = options.extension.isEmpty() ? QStringLiteral("*.*")
                                                        : QStringLiteral("*.") + options.extension;
    if (options.shardCount == 0 ||
        !MatchesPattern(QStringLiteral("x-grayscale.") + extension, pattern)) {
        return {};
    }
    for (const QString& folder : plan.folders) {
        if (within(options.outputFolder, folder)) {
            return QStringLiteral(
                       "with --shard, the output folder \"%1\" must lie outside the "
                       "folders walked (it is in \"%2\"): each shard would find the "
                       "others' outputs there as new inputs")
                .arg(options.outputFolder, folder);
        }
    }
    return {};
}

void CheckWholeRun(const CliOptions& options, RunPlan& plan) {
    const QDir here = QDir::current();
    const std::size_t count = plan.inputs.size();
    std::vector<QString> outputs;
    outputs.reserve(count);
    for (const CliInput& input : plan.inputs) {
        outputs.push_back(OutputPathOf(options, input));
    }
    std::vector<std::optional<Identity>> identities(count);
    std::vector<std::optional<Identity>> outputIdentities(count);
    ParallelFor(count, [&](std::size_t i) {
        identities[i] = identityOf(plan.inputs[i].path);
        outputIdentities[i] = identityOf(outputs[i]);
    });
    std::set<Identity> given;
    for (const auto& identity : identities) {
        if (identity) {
            given.insert(*identity);
        }
    }
    std::vector<CliInput> kept;
    std::vector<QString> keptOutputs;
    std::vector<std::optional<Identity>> keptIdentities;
    std::map<QString, std::size_t> lastWith;  // output path: the last kept input that writes it
    for (std::size_t i = 0; i < count; ++i) {
        const CliInput& input = plan.inputs[i];
        const QString& output = outputs[i];
        plan.wholeOutputs.insert(absolute(output, here));
        const auto& identity = outputIdentities[i];
        if (identity) {
            plan.wholeFiles.insert(*identity);
        }
        if (identity && given.count(*identity) != 0) {
            plan.failed.push_back(
                {input.path, output,
                 QStringLiteral("its output would replace another input of this run")});
        } else {
            lastWith[output] = kept.size();
            kept.push_back(input);
            keptOutputs.push_back(output);
            keptIdentities.push_back(identities[i]);
        }
    }
    plan.wholeFiles.insert(given.begin(), given.end());
    plan.inputs.clear();
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const QString& output = keptOutputs[i];
        const std::size_t last = lastWith.at(output);
        if (last == i) {
            plan.inputs.push_back(std::move(kept[i]));
        } else if (!keptIdentities[i] || keptIdentities[i] != keptIdentities[last]) {
            plan.sameOutput.push_back(
                {kept[i].path, output,
                 QStringLiteral("a later input of this run has the same output (%1)")
                     .arg(kept[last].path)});
        }
    }
}

void TakeShard(const CliOptions& options, RunPlan& plan) {
    if (options.shardCount == 0) {
        return;
    }
    const auto elsewhere = [&](const QString& path) {
        return !InShard(path, options.shard, options.shardCount);
    };
    std::erase_if(plan.inputs, [&](const CliInput& i) { return elsewhere(i.path); });
    for (auto* list : {&plan.failed, &plan.sameOutput, &plan.upToDate}) {
        std::erase_if(*list, [&](const CliLeftOut& l) { return elsewhere(l.path); });
    }
}

void SkipExisting(const CliOptions& options, RunPlan& plan) {
    if (!options.skipExisting) {
        return;
    }
    std::erase_if(plan.inputs, [&](const CliInput& input) {
        const QString output = OutputPathOf(options, input);
        struct stat source {};
        struct stat written {};
        if (::stat(PathBytes(input.path).constData(), &source) != 0 ||
            ::stat(PathBytes(output).constData(), &written) != 0) {
            return false;
        }
        // Without --keep-time an output of the same time may have been written in the clock tick
        // in which the source changed again. With it, the source's time (as the output's file
        // system keeps it) is the mark of an output done: a newer one was named by a run stopped
        // before it gave the time, or by a run without --keep-time, and would stay out of order
        // for good.
        if (options.keepTime ? !KeptTime(written.st_mtim, source.st_mtim)
                             : compared(written.st_mtim, source.st_mtim) <= 0) {
            return false;
        }
        plan.upToDate.push_back({input.path, output,
                                 options.keepTime ? QStringLiteral("its output has its time")
                                                  : QStringLiteral("its output is newer than it")});
        return true;
    });
}
