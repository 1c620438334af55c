#pragma once

#include "engine/PictureLoader.h"
#include "engine/output/GreyRowSink.h"
#include "filter/BlackWhiteFilter.h"

#include <QString>

// Filters a JPEG file's content band by band as the decoder hands the rows out, and hands the
// result to `sink` band by band: the decoded picture never exists whole, only a band of a few
// hundred KB that stays in the processor's cache, so that a worker neither waits on memory nor
// makes the system find 4 bytes a pixel for it. The same pixels as
// ApplyBlackWhiteFilter(DecodePicture(...)), and the same failures (`path` names the file).
//
// Answers false, before any work, for content the bands cannot serve: not a JPEG, or one that
// its Exif orientation turns or mirrors (which needs the whole picture first).
bool FilterJpegWhileDecoding(const PictureContent& content, const QString& path,
                             FilterThresholds thresholds, GreyRowSink& sink);
// The same for content not yet checked (CheckPicture's refusals come first).
bool FilterJpegWhileDecoding(std::span<const std::uint8_t> bytes, const QString& path,
                             FilterThresholds thresholds, GreyRowSink& sink);
