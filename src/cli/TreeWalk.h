#pragma once

#include <QString>

#include <functional>

// The command line's walk of a folder it is given: the folder's files, then those of every
// folder below it, breadth-first, each folder's entries in name order. Every folder that can be
// read is walked, whatever characters its name holds; a folder that cannot be listed is handed
// to `unreadable` with the reason, and the walk goes on. Names that begin with "." (hidden) are
// left out, files whose names begin with "~" too; files that match `pattern` are handed to
// `found` whether they can be opened or not, so that the conversion says why one cannot. A folder
// reached twice (through links) is walked once.
//
// Folders reached through a symbolic link are walked after all the others, so that one that
// can be reached without a link keeps that path.
//
// `found` gets each file's path (`root` joined with the names on the way) and the folders below
// `root` it lies in, "a/b", or "" for the root's own files.
void WalkTree(const QString& root, const QString& pattern,
              const std::function<void(const QString& path, const QString& below)>& found,
              const std::function<void(const QString& folder, const QString& reason)>& unreadable);
