#pragma once

#include <QString>

// True when the last-modified time of `path` can be read (a file or a folder); false for any
// failure: no such path, a bad path, no access. Never raises.
bool FileExists(const QString& path);
