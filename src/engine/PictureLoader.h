#pragma once

#include "base/RuntimeError.h"
#include "engine/PictureFile.h"
#include "engine/formats/LoadFailure.h"
#include "engine/formats/PictureProbe.h"
#include "engine/formats/PngDecoder.h"
#include "filter/PixelImage.h"

#include <QString>

#include <cstdint>
#include <span>

// Loads the picture in the file at `path` at its natural size, upright as viewers show it (the
// Exif orientation applied), in the 4-byte layout: CMYK becomes RGB, grey and palette pictures
// expand, transparency is flattened over white. Each kind of file is its module's
// (engine/formats): JPEG goes through libjpeg, straight into the layout; PNG (8 and 16 bits)
// through libpng, also straight into it; BMP, GIF (its first frame), ICO (its largest picture),
// TIFF and WebP through Qt's readers; HEIF through libheif, JPEG XL through libjxl, camera raw
// files through LibRaw.
//
// The header is read first, once (PictureProbe): a file that is not a picture is refused from its
// first bytes, before the rest is read; one whose header shows it truncated, or of a kind that is
// not supported, and a picture over the filter's limits, fail before any decoding. No picture is
// ever made from memory that no decoder wrote. Every failure raises RuntimeError with a description
// that names the file and the cause: missing (53), no access (70), not a regular file (75), too
// large (7), and empty, not a picture, truncated or corrupt, or a format not supported (481). A
// JPEG with only harmless flaws, which viewers open, loads. Thread-safe.
BgrxImage LoadPicture(const QString& path);

// A picture file's content and what its header says, each read once.
struct PictureContent {
    PictureBytes bytes;
    PictureProbe probe;
    std::optional<FileStamp> stamp;  // of the file the bytes were read from; none from memory
};

// Reads the file at `path` and its header, with every refusal that comes before decoding.
PictureContent ReadPicture(const QString& path);

// A picture file opened, its head read and looked at, the rest not yet read: what it is and
// what it will cost are known before the whole file is read (ReadPicture). Move-only; holds the
// file open.
struct OpenedPicture {
    PictureFile file;
    PictureProbe probe;  // of the file's head
};
// Opens the file at `path`, with the refusals that its head decides: what PictureFile raises,
// and a file that is no picture.
OpenedPicture OpenPicture(const QString& path);
// The rest of an opened file read, and its header checked as ReadPicture does; the head's probe
// stands when the head was the whole file.
PictureContent ReadPicture(OpenedPicture opened, const QString& path);
// The same refusals for content already in memory.
PictureContent CheckPicture(PictureBytes bytes, const QString& path);
// The same, with the probe of `bytes` made already.
PictureContent CheckPicture(PictureBytes bytes, PictureProbe probeOfBytes, const QString& path);

BgrxImage DecodePicture(const PictureContent& content, const QString& path);
// The same, telling `rowsDone` of the rows decoded so far as a PNG stored row by row is
// decoded (see DecodePng), so that a viewer can show them before the rest; other kinds decode
// as DecodePicture does and tell nothing.
BgrxImage DecodePictureShowingRows(const PictureContent& content, const QString& path,
                                   const PngRowsDone& rowsDone);
// The same for a file's content already in memory; `path` only names it in failures.
BgrxImage DecodePicture(std::span<const std::uint8_t> bytes, const QString& path);

// A small copy of the picture for a first look (PictureFormat::quickLook: a JPEG, reduced as it is
// decoded), upright, at the
// least reduction that still leaves its longer side at least `side` pixels; an empty picture for
// other types, and for a JPEG too small to reduce. The loader's refusals and failures.
BgrxImage QuickLook(const PictureContent& content, const QString& path, int side);
