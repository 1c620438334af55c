#pragma once

#include "engine/ConversionEngine.h"
#include "filter/BlackWhiteFilter.h"

#include <QRect>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class SettingsStore;

// What tonvaler-cli was asked to do.
struct CliOptions {
    QStringList paths;  // files and folders, in the order given
    QString extension;  // with --ext: walk folders for this extension only; "" for all files
    QString outputFolder;
    FilterThresholds thresholds;
    int quality = 85;
    int jobs = 0;
    int memoryMegabytes = 0;  // 0: the engine's default
    PictureJob::Format format = PictureJob::Format::Jpeg;
    bool dryRun = false;
    bool samples = false;
    QString filesFrom;           // a file of input paths, "-" for standard input; "" for none
    bool nullSeparated = false;  // its paths end in NUL, not a line's end
    // This process's share of the inputs: K of N (1 <= K <= N); 0 of 0 for all of them.
    int shard = 0;
    int shardCount = 0;
    QString shardFrom;  // where the share came from when not --shard ("SLURM_ARRAY_TASK_ID")
    bool skipExisting = false;
    bool keepTime = false;  // each output takes its source's modification time
    bool keepTree = false;
    bool stripMetadata = false;  // outputs carry none of their sources' Exif and XMP
    QString report;              // a file for one JSON line per input; "" for none
    // The progress line: where standard error is a terminal, wherever it goes (--progress), or
    // nowhere (--no-progress).
    enum class Progress { OnTerminal, Always, Never };
    Progress progress = Progress::OnTerminal;
    // With --sheet: the contact sheet's file, the values of each threshold to combine (black,
    // gradient, gray; one value each where no list was given) and the part of the picture shown.
    QString sheet;
    std::vector<int> sheetValues[3];
    std::optional<QRect> crop;
};

// Either the options, or what to print and the exit status to end with: 0 for --help and
// --version, 2 for a usage error.
struct CliParse {
    std::optional<CliOptions> options;
    QString message;
    int exitStatus = 0;
};

// Parses the arguments (without the program's name). Defaults come from the settings the
// window last stored, read and never written; `cores` is the default for --jobs.
CliParse ParseCliOptions(const QStringList& arguments, SettingsStore& settings, int cores);

// The inputs a command line names, as they stand in it, for a guess made before the run starts:
// its paths and the list --files-from names ("" for none). Nothing when the words do not parse.
struct CliNamedInputs {
    QStringList paths;
    QString filesFrom;
};
std::optional<CliNamedInputs> NamedInputsOf(const QStringList& arguments);
