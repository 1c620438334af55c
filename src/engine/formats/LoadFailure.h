#pragma once

#include "base/RuntimeError.h"

#include <QString>

#include <string>

// The loader's failure for the file at `path`: "Cannot load PATH: CAUSE", with `number`.
RuntimeError CannotLoad(const QString& path, int number, const std::string& cause);

// The failure for content that cannot be whole: "the picture is truncated or corrupt (WHY)", 481.
RuntimeError CorruptPicture(const QString& path, const std::string& why);

// The failure for a file that is no picture of a kind that can be read (481).
RuntimeError NotAPicture(const QString& path);

// Raises the loader's failure for a picture of that size (as it is shown, upright) that has no
// pixels (481) or is over the filter's limits (7).
void CheckPictureSize(const QString& path, long long width, long long height);
