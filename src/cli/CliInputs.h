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

// A path the run does not convert, the output it would have had ("" when none) and why.
struct CliLeftOut {
    QString path;
    QString output;
    QString reason;
};

// What a command names.
struct Gathered {
    std::vector<CliInput> inputs;
    std::vector<CliLeftOut> failed;  // not there, a folder or a file that cannot be read
    QStringList folders;             // the folders walked, as given
};

// Every file a command names, in order: the samples with --samples, each PATH (a file as given,
// a folder walked by WalkTree, for every file or the --ext ones), then the paths of --files-from
// as given. A walked file keeps its folders below the folder named, written in whatever form; a
// relative path from --files-from keeps its own; other inputs keep none. What cannot be found
// or read fails. A --files-from that cannot be read raises RuntimeError.
Gathered GatherInputs(const CliOptions& options, const QString& programFolder);

// Whether `path` falls in shard K of N: by a hash of its bytes, the same on every machine and
// whatever order the inputs come in.
bool InShard(const QString& path, int shard, int shardCount);

// Where the run writes `input`'s output.
QString OutputPathOf(const CliOptions& options, const CliInput& input);
