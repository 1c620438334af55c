#pragma once

#include <QString>

#include <cstdio>

struct CliOptions;

// Runs a parsed command: converts the inputs (GatherInputs), committing the files in input order
// (so where two inputs map to one output name the later wins, and a line on `err` says how many
// were replaced so), one line "PATH: reason" on `err` for each failure, a progress bar on `err`
// when `progressBar`, and "N converted, M failed" (", K skipped" with --skip-existing when any
// were) on `out` at the end. With --report, a JSON line per input as it goes. An input whose output
// would replace another input of the run fails instead. Answers the exit status: 0 when everything
// converted, 1 when anything failed (or `out` could not be written, or --samples found none), 2
// when the output folder does not exist or is a file. Needs a Qt application object; runs its event
// loop.
int RunCli(const CliOptions& options, const QString& programFolder, std::FILE* out, std::FILE* err,
           bool progressBar);
