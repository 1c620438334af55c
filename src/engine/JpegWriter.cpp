#include "engine/JpegWriter.h"

#include "base/RuntimeError.h"
#include "engine/AtomicFile.h"
#include "engine/JpegEncoder.h"

#include <QBuffer>
#include <QImage>

#include <cstring>

#include <zlib.h>

EncodedBytes EncodedBytes::copyOf(const std::uint8_t* data, std::size_t size) {
    auto copy = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    std::memcpy(copy.get(), data, size);
    return EncodedBytes(std::move(copy), size);
}

namespace {

// A PNG chunk: its length, type, data and the CRC of type and data.
QByteArray pngChunk(const char* type, const QByteArray& data) {
    QByteArray chunk;
    const auto u32 = [&](quint32 v) {
        for (int k = 3; k >= 0; --k) {
            chunk += static_cast<char>(v >> (8 * k) & 0xFF);
        }
    };
    u32(static_cast<quint32>(data.size()));
    const QByteArray body = QByteArray(type, 4) + data;
    chunk += body;
    u32(static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(body.constData()),
                                   static_cast<uInt>(body.size()))));
    return chunk;
}

// The chunks go right after the header chunk (8 bytes of signature, 25 of IHDR).
void insertCarried(QByteArray& png, const CaptureData& carried) {
    QByteArray chunks;
    if (!carried.exif.empty()) {
        chunks += pngChunk("eXIf", QByteArray::fromStdString(carried.exif));
    }
    if (!carried.xmp.empty()) {
        // Keyword, no compression, no language, no translated keyword, then the packet.
        chunks += pngChunk("iTXt", QByteArray("XML:com.adobe.xmp\0\0\0\0\0", 22) +
                                       QByteArray::fromStdString(carried.xmp));
    }
    png.insert(8 + 25, chunks);
}

}  // namespace

EncodedBytes EncodeGreyPng(const GreyImage& grey, const CaptureData& carried) {
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
    insertCarried(png, carried);
    return EncodedBytes::copyOf(reinterpret_cast<const std::uint8_t*>(png.constData()),
                                static_cast<std::size_t>(png.size()));
}

void RaiseSaveFailure(SaveStatus status, const std::string& cause) {
    throw RuntimeError(
        ErrorNumber::InvalidCall,
        "Cannot save the image. GDI+ Error:" + std::to_string(static_cast<int>(status)), cause);
}

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
