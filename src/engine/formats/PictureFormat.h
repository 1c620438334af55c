#pragma once

#include "engine/formats/CaptureData.h"
#include "engine/formats/PictureProbe.h"
#include "filter/PixelImage.h"

#include <QString>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// One kind of picture file, from its first bytes to its pixels: what its files begin with, what
// their headers say, what their conversion costs in memory and time, how they decode, and the
// capture data they carry. The loader, the probe, the memory budget and the preview know a kind
// only through this; each is one module under engine/formats. The modules are immutable
// singletons, thread-safe.
class PictureFormat {
  public:
    using Bytes = std::span<const std::uint8_t>;

    virtual ~PictureFormat() = default;

    virtual PictureType type() const = 0;
    // For messages and the contract tests ("JPEG", "HEIF").
    virtual const char* name() const = 0;

    // Whether content that begins with `head` (16 bytes are enough) is of this kind.
    virtual bool claims(Bytes head) const = 0;

    // Reads the header of the whole content `bytes` into `probe` (whose type is this one's).
    // Never throws: what is wrong goes into the probe's truncation or refusal.
    virtual void probe(Bytes bytes, PictureProbe& probe) const = 0;

    // Why content of this kind with this header is refused before it is decoded: the probe's
    // truncation, or the kind it refuses; empty when it is not.
    virtual std::string refusal(const PictureProbe& probe) const;

    // Whether the probe's size is as stored, turned by its orientation when decoded (so the limits
    // apply to the size upright); otherwise the picture may come turned by data the header does not
    // state, and the limits apply either way round.
    virtual bool statesOrientation() const { return false; }

    // The memory its conversion takes at the most, in bytes, beside the file's own content; for a
    // size the header does not tell, that of the largest picture the limits allow.
    virtual std::uint64_t workingBytes(const PictureProbe& probe) const = 0;
    // The time its conversion takes on one core of about 3 GHz, in nanoseconds a pixel.
    virtual double nanosPerPixel(const PictureProbe& probe) const = 0;

    // The picture, upright, in the 4-byte layout; `probe` is this content's. Raises the loader's
    // RuntimeError (481 naming `path` and the cause; 7 over the filter's limits).
    virtual BgrxImage decode(Bytes bytes, const PictureProbe& probe, const QString& path) const = 0;

    // A small copy, upright, at the least reduction that still leaves its longer side at least
    // `side` pixels, made far faster than the whole picture; empty where the kind has no such way.
    virtual BgrxImage quickLook(Bytes bytes, const PictureProbe& probe, const QString& path,
                                int side) const;

    // The capture data it carries, for an output of `width` × `height` that is upright
    // (CaptureDataFor); none for kinds that carry none. Never throws.
    virtual CaptureData captureData(Bytes bytes, int width, int height) const;
};

// The module of a type; PictureType::Unknown is the reader of the pictures that Qt's readers
// know by content beyond the named types.
const PictureFormat& FormatOf(PictureType type);

// Every module, in the order their claims are tried.
const std::vector<const PictureFormat*>& AllFormats();

// Pixels the memory is charged for: the stated size, or the largest the limits allow when the
// header does not state one.
std::uint64_t ChargedPixels(const PictureProbe& probe);
