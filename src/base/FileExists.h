#pragma once

#include <QString>

// True when the last-modified time of `path` can be read (a file or a folder); false for any
// failure: no such path, a bad path, no access. Never raises.
bool FileExists(const QString& path);

// True when `path` names a folder that can be looked at; false for anything else (empty, a file,
// missing, no access). Never raises.
bool FolderExists(const QString& path);

// The name to load a file by: the path itself when the file exists, "" when it does not.
QString ShortFilename(const QString& path);

// True when both paths lead to one file or folder (links followed); false when either cannot be
// looked at. Never raises.
bool SameFile(const QString& a, const QString& b);
