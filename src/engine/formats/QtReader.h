#pragma once

#include "engine/formats/PictureFormat.h"

#include <QByteArray>

#include <cstdint>
#include <span>

// The kinds that Qt's image readers decode: BMP, GIF (its first frame), ICO (its largest picture),
// TIFF, WebP, X bitmaps, Netpbm, and whatever else they take by content. Their headers are read by
// each kind's module; the pictures come upright as the reader turns them, transparency flattened
// over white.
class QtReadFormat : public PictureFormat {
  public:
    // Qt's reader's picture, its conversion and ours, beside the grey result and the output.
    std::uint64_t workingBytes(const PictureProbe& probe) const override;
    // A whole picture decoded by a general reader, then filtered.
    double nanosPerPixel(const PictureProbe&) const override { return 20; }
    // The boundary where Qt's readers' failures become the loader's (481 naming `path`, with what
    // the readers said).
    BgrxImage decode(Bytes bytes, const PictureProbe& probe, const QString& path) const override;

  protected:
    // The name of Qt's reader for this kind; empty to let Qt choose by content.
    virtual QByteArray readerName() const = 0;
};

// Whether one of Qt's readers other than its JPEG reader takes content that begins so; every
// JPEG goes through our decoder and its checks.
bool QtReads(std::span<const std::uint8_t> head);
