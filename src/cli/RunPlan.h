#pragma once

#include "cli/CliInputs.h"

#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <set>
#include <utility>
#include <vector>

struct CliOptions;

// What a command-line run will do, decided before anything is converted, so that --dry-run
// prints exactly what the run converts. Made in steps, each of them a function below.
struct RunPlan {
    std::vector<CliInput> inputs;        // to convert, in order
    std::vector<CliLeftOut> failed;      // not there, unreadable, or would replace an input
    std::vector<CliLeftOut> sameOutput;  // a later input of the run writes the same output
    // --skip-existing: the output is newer than the input (with --keep-time: has its time)
    std::vector<CliLeftOut> upToDate;
    bool samplesFound = false;  // with --samples: whether the whole list holds any
    QStringList folders;        // the folders walked, as given
    // Of every shard: the files of the inputs and of the outputs there already, and the
    // outputs as absolute paths.
    std::set<std::pair<dev_t, ino_t>> wholeFiles;
    std::set<QString> wholeOutputs;
};

// Whether writing `path` would replace an input or an output of the whole run (as far as
// CheckWholeRun found them).
bool PartOfRun(const RunPlan& plan, const QString& path);

// Why the shards of this run cannot share it out ("" when they can): their outputs go to a
// folder they walk, where each would find those of the others as new inputs.
QString ShardsSeeEachOther(const CliOptions& options, const RunPlan& plan);

// 1 to 4 below, in order. A --files-from that cannot be read raises RuntimeError.
RunPlan PlanRun(const CliOptions& options, const QString& programFolder);

// 1. Every input the command names (GatherInputs), and what is named but cannot be found.
RunPlan GatherPlan(const CliOptions& options, const QString& programFolder);

// 2. The checks that concern the whole run, made on the whole list, so that every shard makes
// the same decisions: an input whose output would take the place of another input fails (its
// conversion would destroy that input); of inputs with one output, only the last is converted
// (the others' work would be replaced); a file named twice is converted once, as named last.
void CheckWholeRun(const CliOptions& options, RunPlan& plan);

// 3. Of everything, only what falls in this process's shard.
void TakeShard(const CliOptions& options, RunPlan& plan);

// 4. With --skip-existing, the inputs whose output exists and was written after their source
// last changed leave the list; with --keep-time, those whose output has their time exactly.
void SkipExisting(const CliOptions& options, RunPlan& plan);
