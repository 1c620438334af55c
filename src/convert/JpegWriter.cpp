#include "convert/JpegWriter.h"

#include "convert/AtomicFile.h"
#include "convert/TurboJpeg.h"
#include "shell/RuntimeError.h"

#include <turbojpeg.h>

void JpegBytes::Free::operator()(std::uint8_t* p) const {
    tjFree(p);
}

void RaiseSaveFailure(SaveStatus status) {
    throw RuntimeError(ErrorNumber::InvalidCall, "Cannot save the image. GDI+ Error:" +
                                                     std::to_string(static_cast<int>(status)));
}

JpegBytes EncodeGreyJpeg(const GreyImage& grey, int quality) {
    if (grey.empty() || quality < 1 || quality > 100) {
        RaiseSaveFailure(SaveStatus::InvalidParameter);
    }
    TurboJpeg* tj = nullptr;
    try {
        tj = &TurboJpeg::forThisThread(TurboJpeg::Kind::Compress);
    } catch (const RuntimeError&) {
        RaiseSaveFailure(SaveStatus::EncoderUnavailable);
    }
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjCompress2(tj->get(), grey.data(), grey.width(), static_cast<int>(grey.stride()),
                    grey.height(), TJPF_GRAY, &out, &size, TJSAMP_GRAY, quality, 0) != 0) {
        tjFree(out);
        RaiseSaveFailure(SaveStatus::EncodingFailed);
    }
    return JpegBytes(out, size);
}

StagedFile StageJpegFile(const QString& path, const JpegBytes& jpeg) {
    WriteStep failedAt = WriteStep::Write;
    try {
        return StagedFile::write(path, jpeg.data(), jpeg.size(), &failedAt);
    } catch (const RuntimeError&) {
        RaiseSaveFailure(failedAt == WriteStep::Create ? SaveStatus::CannotCreateFile
                                                       : SaveStatus::CannotWriteFile);
    }
}

void CommitJpegFile(StagedFile& staged) {
    try {
        staged.commit();
    } catch (const RuntimeError&) {
        RaiseSaveFailure(SaveStatus::CannotReplaceFile);
    }
}

void WriteJpegFile(const QString& path, const JpegBytes& jpeg) {
    StagedFile staged = StageJpegFile(path, jpeg);
    CommitJpegFile(staged);
}

void SaveAsJPG(const GreyImage& grey, const QString& path, int quality) {
    WriteJpegFile(path, EncodeGreyJpeg(grey, quality));
}
