#include "engine/output/PngWriter.h"

#include "base/RuntimeError.h"
#include "engine/formats/ModuleEntries.h"
#include "engine/formats/ProgramModule.h"
#include "engine/output/SaveFailure.h"

#include <QByteArray>

#include <zlib.h>

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
    // Qt's writer, in the module that brings Qt's GUI library.
    QByteArray png;
    try {
        png = ModuleEntriesOf<QtModuleEntries>("qt").greyPng(grey);
    } catch (const RuntimeError& e) {
        RaiseSaveFailure(SaveStatus::EncodingFailed, e.description());
    }
    if (png.isEmpty()) {
        RaiseSaveFailure(SaveStatus::EncodingFailed);
    }
    insertCarried(png, carried);
    return EncodedBytes::copyOf(reinterpret_cast<const std::uint8_t*>(png.constData()),
                                static_cast<std::size_t>(png.size()));
}
