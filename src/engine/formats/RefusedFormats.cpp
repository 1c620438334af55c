#include "engine/formats/ByteReading.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/LoadFailure.h"

// Kinds refused from their first bytes, before the rest is read: Windows metafiles, and MNG and
// JNG animations (whose JPEG frames Qt's reader would decode with a decoder of its own, without
// the bounds of ours).

namespace {

using namespace bytes;
using Bytes = std::span<const std::uint8_t>;

bool isMetafile(Bytes b) {
    if (startsWith(b, "\xD7\xCD\xC6\x9A", 4)) {
        return true;
    }
    // A plain metafile header: type 1 or 2, header size 9 words, version 0x0100 or 0x0300.
    if (b.size() >= 6 && (b[0] == 1 || b[0] == 2) && b[1] == 0 && b[2] == 9 && b[3] == 0 &&
        b[4] == 0 && (b[5] == 1 || b[5] == 3)) {
        return true;
    }
    return startsWith(b, "\x01\0\0\0", 4) && startsWith(b, " EMF", 4, 40);
}

// Nothing of a refused kind is decoded or charged for.
class Refused : public PictureFormat {
  public:
    std::uint64_t workingBytes(const PictureProbe&) const override { return 0; }
    double nanosPerPixel(const PictureProbe&) const override { return 0; }
    BgrxImage decode(Bytes, const PictureProbe& probe, const QString& path) const override {
        throw CannotLoad(path, ErrorNumber::InvalidPicture, refusal(probe));
    }
    CaptureData captureData(Bytes, int, int) const override { return {}; }
};

class Metafile final : public Refused {
  public:
    PictureType type() const override { return PictureType::Metafile; }
    const char* name() const override { return "Windows metafile"; }
    bool claims(Bytes head) const override { return isMetafile(head); }
    void probe(Bytes, PictureProbe&) const override {}
    std::string refusal(const PictureProbe&) const override {
        return "Windows metafile pictures (WMF, EMF) are not supported";
    }
};

class Mng final : public Refused {
  public:
    PictureType type() const override { return PictureType::Mng; }
    const char* name() const override { return "MNG"; }
    bool claims(Bytes head) const override {
        return startsWith(head, "\x8AMNG\r\n\x1A\n", 8) || startsWith(head, "\x8BJNG\r\n\x1A\n", 8);
    }
    void probe(Bytes, PictureProbe& p) const override { p.refused = "MNG and JNG animations"; }
};

}  // namespace

const PictureFormat& MetafileFormat() {
    static const Metafile format;
    return format;
}

const PictureFormat& MngFormat() {
    static const Mng format;
    return format;
}
