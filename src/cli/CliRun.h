#pragma once

#include <QString>

#include <cstdio>

struct CliOptions;

// Runs a parsed command: plans it (PlanRun), then converts the planned inputs, committing the
// files in input order, with one line "PATH: reason" on `err` for each failure, a line for the
// inputs left out because a later one writes the same output, the progress line on `err` (when
// `errIsTerminal`, or as lines with --progress; ProgressLine), and "N converted, M failed" (", K
// skipped" when any were left out) on `out` at the end. With --report, a JSON line per input as it
// goes. With --dry-run, the planned inputs' paths on `out` and the same lines on `err`, and nothing
// converted. Answers the exit status: 0 when everything planned converted, 1 when anything failed
// (or `out` or the report could not be written, or --samples found none), 2 when the output folder
// does not exist or is a file, or the report would replace an input. Needs a Qt application object;
// runs its event loop.
int RunCli(const CliOptions& options, const QString& programFolder, std::FILE* out, std::FILE* err,
           bool errIsTerminal);
