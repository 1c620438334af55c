#pragma once

#include <optional>
#include <string>

// Saving the filter's result as a file. A failure raises RuntimeError 5 with the
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

class RuntimeError;

// The failure for a status, as SaveAsJPG raises it.
[[noreturn]] void RaiseSaveFailure(SaveStatus status, const std::string& cause = {});

// The status of a failure RaiseSaveFailure raised; nothing for any other failure.
std::optional<SaveStatus> SaveStatusOf(const RuntimeError& failure);
