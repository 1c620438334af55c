#include "engine/PictureLoader.h"

#include "engine/formats/PictureFormat.h"
#include "engine/formats/QtReader.h"
#include "filter/BlackWhiteFilter.h"

#include <algorithm>
#include <utility>

PictureContent CheckPicture(PictureBytes bytes, const QString& path) {
    PictureProbe probe = ProbePicture(bytes.span());
    return CheckPicture(std::move(bytes), std::move(probe), path);
}

PictureContent CheckPicture(PictureBytes bytes, PictureProbe probeOfBytes, const QString& path) {
    PictureContent content{std::move(bytes), std::move(probeOfBytes), std::nullopt};
    const PictureProbe& probe = content.probe;
    const PictureFormat& format = FormatOf(probe.type);
    if (const std::string why = format.refusal(probe); !why.empty()) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture, why);
    }
    if (probe.width > 0 && probe.height > 0) {
        if (format.statesOrientation()) {
            CheckPictureSize(path, probe.uprightWidth(), probe.uprightHeight());
        } else if ((probe.width > kFilterMaxWidth || probe.height > kFilterMaxHeight) &&
                   (probe.height > kFilterMaxWidth || probe.width > kFilterMaxHeight)) {
            // Quarter turns from Exif data are rare outside the kinds that state them.
            CheckPictureSize(path, probe.width, probe.height);
        }
    }
    return content;
}

namespace {

// The file at `path` opened, unless its head shows it is no picture.
PictureFile openPictureFile(const QString& path) {
    PictureFile file(path);
    if (PictureTypeOf(file.head()) == PictureType::Unknown && !QtReads(file.head())) {
        throw NotAPicture(path);
    }
    return file;
}

}  // namespace

PictureContent ReadPicture(const QString& path) {
    PictureFile file = openPictureFile(path);
    PictureContent content = CheckPicture(file.readAll(), path);
    content.stamp = file.stamp();
    return content;
}

OpenedPicture OpenPicture(const QString& path) {
    PictureFile file = openPictureFile(path);
    PictureProbe probe = ProbePicture(file.head());
    return {std::move(file), std::move(probe)};
}

PictureContent ReadPicture(OpenedPicture opened, const QString& path) {
    PictureBytes bytes = opened.file.readAll();
    const auto head = opened.file.head();
    PictureContent content =
        bytes.size() == head.size() && std::equal(head.begin(), head.end(), bytes.data())
            ? CheckPicture(std::move(bytes), std::move(opened.probe), path)
            : CheckPicture(std::move(bytes), path);
    content.stamp = opened.file.stamp();
    return content;
}

BgrxImage LoadPicture(const QString& path) {
    return DecodePicture(ReadPicture(path), path);
}

BgrxImage DecodePicture(const PictureContent& content, const QString& path) {
    return FormatOf(content.probe.type).decode(content.bytes.span(), content.probe, path);
}

BgrxImage DecodePictureShowingRows(const PictureContent& content, const QString& path,
                                   const PngRowsDone& rowsDone) {
    if (content.probe.type == PictureType::Png) {
        return DecodePng(content.bytes.span(), path, rowsDone);
    }
    return DecodePicture(content, path);
}

BgrxImage QuickLook(const PictureContent& content, const QString& path, int side) {
    return FormatOf(content.probe.type).quickLook(content.bytes.span(), content.probe, path, side);
}

BgrxImage DecodePicture(std::span<const std::uint8_t> bytes, const QString& path) {
    if (bytes.empty()) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture, "the file is empty");
    }
    return DecodePicture(CheckPicture(PictureBytes(bytes), path), path);
}
