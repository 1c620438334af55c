#pragma once

#include <QString>

// Collapses doubled separators, which arise where a folder that already ends in one (the root)
// is joined to a name with another. One left-to-right pass over non-overlapping pairs: two
// separators become one, three become two, four become two. A path that begins with two or more
// separators (the network form) comes back beginning with exactly two; one that begins with one
// keeps its one. Never fails.
QString CleanPath(const QString& path);

// `folder`, the separator and `name`; a folder that already ends in the separator (the root "/")
// gets no second one. On this platform a doubled separator at the start would read as the
// network form that CleanPath keeps, so the joins avoid making one.
QString JoinPath(const QString& folder, const QString& name);

// A folder as given on a command line, written one way: without "." steps, doubled or final
// separators, and with the ".." steps that only undo the step before, when that text names the
// same folder as `folder` (or neither exists). A ".." after a symbolic link names the link's
// parent on disk, not in the text: such a path keeps its steps and loses only its final
// separators. "/" stays "/".
QString NormalisedFolder(const QString& folder);
