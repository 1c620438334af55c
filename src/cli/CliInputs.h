#pragma once

#include <QString>
#include <QStringList>

#include <vector>

struct CliOptions;

// An input of a run, and the folder below the output folder that --keep-tree writes it to ("" for
// the output folder itself).
struct CliInput {
    QString path;
    QString subfolder;
};

// The files a command names, in order: the samples with --samples, each PATH (a file as given, a
// folder walked as a folder dropped on the list is, or with an extension as "Add All Image
// File(s) In Folder" walks it), then the paths of --files-from as given. Of them, only this
// process's shard (and of the paths not there, added to `missing`, only those of its shard too).
// A walked file keeps its folders below the folder named; a relative path from --files-from keeps
// its own; other inputs keep none. A --files-from that cannot be read raises RuntimeError.
std::vector<CliInput> GatherInputs(const CliOptions& options, const QString& programFolder,
                                   QStringList& missing);

// Whether `path` falls in shard K of N: by a hash of its bytes, the same on every machine and
// whatever order the inputs come in.
bool InShard(const QString& path, int shard, int shardCount);

// Where the run writes `input`'s output.
QString OutputPathOf(const CliOptions& options, const CliInput& input);
