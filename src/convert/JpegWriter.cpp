#include "convert/JpegWriter.h"

#include "convert/AtomicFile.h"
#include "convert/TurboJpeg.h"
#include "shell/RuntimeError.h"

#include <QBuffer>
#include <QImage>

#include <turbojpeg.h>

#include <cstring>

void JpegBytes::Free::operator()(std::uint8_t* p) const {
    tjFree(p);
}

JpegBytes JpegBytes::copyOf(const std::uint8_t* data, std::size_t size) {
    auto* copy = static_cast<std::uint8_t*>(tjAlloc(static_cast<int>(size)));
    if (copy == nullptr) {
        throw RuntimeError(ErrorNumber::OutOfMemory, "Out of memory");
    }
    std::memcpy(copy, data, size);
    return JpegBytes(copy, size);
}

JpegBytes EncodeGreyPng(const GreyImage& grey) {
    if (grey.empty()) {
        RaiseSaveFailure(SaveStatus::InvalidParameter);
    }
    const QImage image(grey.data(), grey.width(), grey.height(),
                       static_cast<qsizetype>(grey.stride()), QImage::Format_Grayscale8);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        RaiseSaveFailure(SaveStatus::EncodingFailed);
    }
    return JpegBytes::copyOf(reinterpret_cast<const std::uint8_t*>(png.constData()),
                             static_cast<std::size_t>(png.size()));
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

StagedFile StageJpegFile(const QString& path, const JpegBytes& jpeg, bool flush) {
    WriteStep failedAt = WriteStep::Write;
    try {
        return StagedFile::write(path, jpeg.data(), jpeg.size(), &failedAt, flush);
    } catch (const RuntimeError&) {
        RaiseSaveFailure(failedAt == WriteStep::Create ? SaveStatus::CannotCreateFile
                                                       : SaveStatus::CannotWriteFile);
    }
}

void FlushJpegFile(StagedFile& staged) {
    try {
        staged.flushToDisk();
    } catch (const RuntimeError&) {
        RaiseSaveFailure(SaveStatus::CannotWriteFile);
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
