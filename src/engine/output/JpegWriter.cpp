#include "engine/output/JpegWriter.h"

#include "base/RuntimeError.h"
#include "engine/output/AtomicFile.h"
#include "engine/output/JpegEncoder.h"

EncodedBytes EncodeGreyJpeg(const GreyImage& grey, int quality, const CaptureData& carried) {
    JpegEncoder encoder(quality);
    encoder.carry(carried);
    encoder.begin(grey.width(), grey.height());
    encoder.take(grey.data(), grey.stride(), grey.height());
    return encoder.finish();
}

StagedFile StageOutputFile(const QString& path, const EncodedBytes& bytes, Flush flush) {
    WriteStep failedAt = WriteStep::Write;
    try {
        return StagedFile::write(path, bytes.data(), bytes.size(), &failedAt, flush);
    } catch (const RuntimeError& e) {
        RaiseSaveFailure(failedAt == WriteStep::Create ? SaveStatus::CannotCreateFile
                                                       : SaveStatus::CannotWriteFile,
                         e.cause());
    }
}

void FlushOutputFile(StagedFile& staged) {
    try {
        staged.flushToDisk();
    } catch (const RuntimeError& e) {
        RaiseSaveFailure(SaveStatus::CannotWriteFile, e.cause());
    }
}

std::vector<std::optional<RuntimeError>> FlushOutputFiles(std::span<StagedFile* const> staged,
                                                          std::size_t together) {
    const std::vector<int> errors = StagedFile::flushAllToDisk(staged, together);
    std::vector<std::optional<RuntimeError>> failures(staged.size());
    for (std::size_t i = 0; i < staged.size(); ++i) {
        if (errors[i] == 0) {
            continue;
        }
        try {
            try {
                staged[i]->raiseFlushFailure(errors[i]);
            } catch (const RuntimeError& e) {
                RaiseSaveFailure(SaveStatus::CannotWriteFile, e.cause());
            }
        } catch (const RuntimeError& e) {
            failures[i] = e;
        }
    }
    return failures;
}

FileDescriptor CommitOutputFile(StagedFile& staged) {
    try {
        return staged.commit();
    } catch (const RuntimeError& e) {
        RaiseSaveFailure(SaveStatus::CannotReplaceFile, e.cause());
    }
}
