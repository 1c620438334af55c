#pragma once

#include "base/RuntimeError.h"
#include "engine/formats/CaptureData.h"
#include "engine/output/AtomicFile.h"
#include "engine/output/EncodedBytes.h"
#include "engine/output/SaveFailure.h"
#include "filter/PixelImage.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

// Writing the filter's result as a JPEG file (SaveFailure.h has its failures).

// The grey picture as a one-channel JPEG at `quality` (1 to 100, passed to the encoder
// unchanged), in memory. Thread-safe.
// `carried`: the source's metadata the file carries.
EncodedBytes EncodeGreyJpeg(const GreyImage& grey, int quality, const CaptureData& carried = {});

// Writes encoded bytes to `path`, replacing a file of that name atomically: a failed write never
// leaves part of a file and never destroys the file that was there. In two steps, so that files
// written in any order can take their names in a chosen order: the bytes staged beside `path`,
// then the staged file committed. Both raise the failure text; a StagedFile dropped without
// commit leaves nothing behind. Thread-safe for different targets.
// With Flush::Later, FlushOutputFile must follow before the commit.
StagedFile StageOutputFile(const QString& path, const EncodedBytes& bytes,
                           Flush flush = Flush::Now);
void FlushOutputFile(StagedFile& staged);
// Flushes several at once (StagedFile::flushAllToDisk); answers, for each, its failure as
// FlushOutputFile raises it, or nothing.
std::vector<std::optional<RuntimeError>> FlushOutputFiles(std::span<StagedFile* const> staged,
                                                          std::size_t together);
// Answers the committed file's descriptor (StagedFile::commit).
FileDescriptor CommitOutputFile(StagedFile& staged);
