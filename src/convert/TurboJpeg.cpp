#include "convert/TurboJpeg.h"

#include "shell/RuntimeError.h"

TurboJpeg::TurboJpeg(Kind kind)
    : handle_(kind == Kind::Compress ? tjInitCompress() : tjInitDecompress()) {
    if (handle_ == nullptr) {
        throw RuntimeError(ErrorNumber::OutOfMemory,
                           std::string("The JPEG codec cannot start: ") + tjGetErrorStr2(nullptr));
    }
}

TurboJpeg::~TurboJpeg() {
    tjDestroy(handle_);
}

std::string TurboJpeg::lastMessage() const {
    return tjGetErrorStr2(handle_);
}

bool TurboJpeg::lastWasWarning() const {
    return tjGetErrorCode(handle_) == TJERR_WARNING;
}

TurboJpeg& TurboJpeg::forThisThread(Kind kind) {
    thread_local TurboJpeg compressor(Kind::Compress);
    thread_local TurboJpeg decompressor(Kind::Decompress);
    return kind == Kind::Compress ? compressor : decompressor;
}
