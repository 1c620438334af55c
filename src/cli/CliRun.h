#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

struct CliOptions;

// The files a command names, in order: a file as given, a folder walked as a folder dropped on
// the list is (or, with an extension, as "Add All Image File(s) In Folder" walks it), the
// samples with --samples. Inputs that are not there are added to `missing`.
QStringList GatherInputs(const CliOptions& options, const QString& programFolder,
                         QStringList& missing);

// Runs a parsed command: converts the inputs, committing the files in input order (so where
// two inputs map to one output name the later wins), one line "PATH: reason" on `err` for each
// failure, a progress bar on `err` when `progressBar`, and "N converted, M failed" on `out` at
// the end. An input whose output would replace another input of the run fails instead. Answers
// the exit status: 0 when everything converted, 1 when anything failed (or `out` could not be
// written, or --samples found none), 2 when the output folder does not exist or is a file.
// Needs a Qt application object; runs its event loop.
int RunCli(const CliOptions& options, const QString& programFolder, std::FILE* out, std::FILE* err,
           bool progressBar);
