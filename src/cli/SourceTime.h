#pragma once

#include "engine/PictureFile.h"

#include <QString>

#include <optional>

#include <time.h>

// --keep-time: gives the output file at `output`, whole and in its place, the modification time
// of the source it was made from, to the fraction of a second that the file system keeps.
// `read` is the source as the engine read it: when the source has changed since, the output
// takes the time of the content it was made from, so that --skip-existing finds the source
// newer. Answers "" when it was done, else why not ("cannot give out/a-grayscale.jpg its
// source's time: Operation not permitted").
QString GiveSourceTime(const QString& source, const std::optional<FileStamp>& read,
                       const QString& output);

// Whether a file given the time `wanted` keeps it as `kept`: cut down to a file system's step
// (FAT keeps even seconds, others finer).
bool KeptTime(const struct timespec& kept, const struct timespec& wanted);
