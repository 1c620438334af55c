#pragma once

#include "filter/BlackWhiteFilter.h"

#include <QString>
#include <QStringList>

// The tonvaler-cli command that converts `paths` as the window's batch would, with its JPEG
// quality (1 to 100), thresholds and output folder: one line for a POSIX shell, every word that
// is not an option quoted. Relative paths and folder are made absolute against the current
// folder (not cleaned), as the batch reads them; an empty folder is left to the command's own
// default.
QString CliCommandLine(int quality, FilterThresholds thresholds, const QString& folder,
                       const QStringList& paths);

// `word` as one word of a POSIX shell, in single quotes unless it needs none; the bytes of a
// name that are not UTF-8 written by printf, so that the line is text.
QString ShellQuoted(const QString& word);
