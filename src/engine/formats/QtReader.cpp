#include "engine/formats/QtReader.h"

#include "engine/formats/FormatModules.h"
#include "engine/formats/LoadFailure.h"
#include "engine/formats/ModuleEntries.h"
#include "engine/formats/ProgramModule.h"

namespace {

// Whatever else Qt's readers take by content (XPM, say): read as Qt decides.
class OtherQt final : public QtReadFormat {
  public:
    PictureType type() const override { return PictureType::Unknown; }
    const char* name() const override { return "another kind Qt reads"; }
    bool claims(Bytes) const override { return false; }
    void probe(Bytes, PictureProbe&) const override {}

  protected:
    QByteArray readerName() const override { return {}; }
};

}  // namespace

std::uint64_t QtReadFormat::workingBytes(const PictureProbe& probe) const {
    return (2 + 12) * ChargedPixels(probe);
}

BgrxImage QtReadFormat::decode(Bytes bytes, const PictureProbe& probe, const QString& path) const {
    const QtModuleEntries* qt = nullptr;
    try {
        qt = &ModuleEntriesOf<QtModuleEntries>("qt");
    } catch (const RuntimeError& e) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture,
                         "the picture is not supported (" + e.description() + ")");
    }
    return qt->decode(bytes, probe, path, readerName());
}

bool QtReads(std::span<const std::uint8_t> head) {
    try {
        return ModuleEntriesOf<QtModuleEntries>("qt").reads(head);
    } catch (const RuntimeError&) {
        return true;  // what cannot be told is left to the decode, which says why it cannot read
    }
}

const PictureFormat& OtherQtFormat() {
    static const OtherQt format;
    return format;
}
