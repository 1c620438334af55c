#include "engine/JpegWriter.h"

#include "base/RuntimeError.h"
#include "engine/AtomicFile.h"
#include "engine/JpegEncoder.h"

#include <QBuffer>
#include <QImage>

#include <cstring>

EncodedBytes EncodedBytes::copyOf(const std::uint8_t* data, std::size_t size) {
    auto copy = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    std::memcpy(copy.get(), data, size);
    return EncodedBytes(std::move(copy), size);
}

EncodedBytes EncodeGreyPng(const GreyImage& grey) {
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
    return EncodedBytes::copyOf(reinterpret_cast<const std::uint8_t*>(png.constData()),
                                static_cast<std::size_t>(png.size()));
}

void RaiseSaveFailure(SaveStatus status, const std::string& cause) {
    throw RuntimeError(
        ErrorNumber::InvalidCall,
        "Cannot save the image. GDI+ Error:" + std::to_string(static_cast<int>(status)), cause);
}

EncodedBytes EncodeGreyJpeg(const GreyImage& grey, int quality) {
    JpegEncoder encoder(quality);
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

void CommitOutputFile(StagedFile& staged) {
    try {
        staged.commit();
    } catch (const RuntimeError& e) {
        RaiseSaveFailure(SaveStatus::CannotReplaceFile, e.cause());
    }
}
