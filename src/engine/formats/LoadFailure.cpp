#include "engine/formats/LoadFailure.h"

#include "filter/BlackWhiteFilter.h"

RuntimeError CannotLoad(const QString& path, int number, const std::string& cause) {
    return RuntimeError(number, "Cannot load " + path.toStdString() + ": " + cause);
}

RuntimeError CorruptPicture(const QString& path, const std::string& why) {
    return CannotLoad(path, ErrorNumber::InvalidPicture,
                      "the picture is truncated or corrupt (" + why + ")");
}

RuntimeError NotAPicture(const QString& path) {
    return CannotLoad(path, ErrorNumber::InvalidPicture,
                      "the file is not a picture, or not in a format that can be read "
                      "(JPEG, PNG, BMP, GIF, ICO, TIFF, WebP, HEIC, AVIF, JPEG XL, camera raw)");
}

void CheckPictureSize(const QString& path, long long width, long long height) {
    if (width <= 0 || height <= 0) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture, "the picture has no pixels");
    }
    if (width > kFilterMaxWidth || height > kFilterMaxHeight) {
        throw CannotLoad(path, ErrorNumber::OutOfMemory,
                         "the picture is " + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels; at most " +
                             std::to_string(kFilterMaxWidth) + " x " +
                             std::to_string(kFilterMaxHeight) + " can be converted");
    }
}
