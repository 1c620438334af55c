#pragma once

#include "base/RuntimeError.h"
#include "engine/CaptureData.h"

#include "engine/AtomicFile.h"
#include "filter/PixelImage.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

// Writing the filter's result as a JPEG file. A failure raises RuntimeError 5 with the
// description "Cannot save the image. GDI+ Error:" directly followed by one of these status
// numbers (0 is success and never raised):
enum class SaveStatus {
    Ok = 0,
    EncoderUnavailable = 1,  // the JPEG encoder could not be started
    InvalidParameter = 2,    // quality outside 1..100, or a picture without pixels
    EncodingFailed = 3,      // the encoder failed on the picture
    CannotCreateFile = 10,   // no file can be made in the folder (missing, no access, bad name)
    CannotWriteFile = 11,    // writing or flushing the data failed (disk full, I/O error)
    CannotReplaceFile = 12,  // the finished file could not take the target's name
};

// An encoded picture file's bytes, owned.
class EncodedBytes {
  public:
    EncodedBytes(std::unique_ptr<std::uint8_t[]> data, std::size_t size)
        : data_(std::move(data)), size_(size) {}
    static EncodedBytes copyOf(const std::uint8_t* data, std::size_t size);
    const std::uint8_t* data() const { return data_.get(); }
    std::size_t size() const { return size_; }

  private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_;
};

// The grey picture as a one-channel JPEG at `quality` (1 to 100, passed to the encoder
// unchanged), in memory. Thread-safe.
// `carried`: the source's metadata the file carries.
EncodedBytes EncodeGreyJpeg(const GreyImage& grey, int quality, const CaptureData& carried = {});

// The grey picture as a lossless 8-bit grey PNG, in memory, for line art and exact checks.
// Raises the same failure text. Thread-safe.
// `carried` goes into an eXIf chunk and an XMP iTXt chunk before the picture's data.
EncodedBytes EncodeGreyPng(const GreyImage& grey, const CaptureData& carried = {});

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

// The failure for a status, as SaveAsJPG raises it.
[[noreturn]] void RaiseSaveFailure(SaveStatus status, const std::string& cause = {});
