#include "cli/RunPlan.h"

#include "base/PathBytes.h"
#include "cli/CliOptions.h"
#include "imagelist/SampleFiles.h"

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

bool newer(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
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
    plan.inputs = GatherInputs(options, programFolder, plan.failed);
    const QString samples = SamplesFolder(programFolder);
    plan.samplesFound = std::any_of(plan.inputs.begin(), plan.inputs.end(),
                                    [&](const CliInput& i) { return i.path.startsWith(samples); });
    return plan;
}

bool IsInputOfRun(const RunPlan& plan, const QString& path) {
    const auto identity = identityOf(path);
    return identity && plan.wholeRun.count(*identity) != 0;
}

void CheckWholeRun(const CliOptions& options, RunPlan& plan) {
    std::set<Identity>& given = plan.wholeRun;
    for (const CliInput& input : plan.inputs) {
        if (const auto identity = identityOf(input.path)) {
            given.insert(*identity);
        }
    }
    std::vector<CliInput> kept;
    std::map<QString, std::size_t> lastWith;  // output path: the last kept input that writes it
    for (const CliInput& input : plan.inputs) {
        const QString output = OutputPathOf(options, input);
        const auto identity = identityOf(output);
        if (identity && given.count(*identity) != 0) {
            plan.failed.push_back(
                {input.path, output,
                 QStringLiteral("its output would replace another input of this run")});
        } else {
            lastWith[output] = kept.size();
            kept.push_back(input);
        }
    }
    plan.inputs.clear();
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const QString output = OutputPathOf(options, kept[i]);
        const std::size_t last = lastWith.at(output);
        if (last == i) {
            plan.inputs.push_back(std::move(kept[i]));
        } else {
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
            ::stat(PathBytes(output).constData(), &written) != 0 ||
            !newer(written.st_mtim, source.st_mtim)) {
            return false;
        }
        plan.upToDate.push_back(
            {input.path, output, QStringLiteral("its output is newer than it")});
        return true;
    });
}
