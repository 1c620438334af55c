#include "engine/formats/ModuleFormat.h"

#include "base/RuntimeError.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/FormatSignatures.h"
#include "engine/formats/LoadFailure.h"
#include "engine/formats/ModuleEntries.h"
#include "engine/formats/ProgramModule.h"

const PictureFormat& ModuleFormat::loaded() const {
    const PictureFormat* format = loaded_.load(std::memory_order_acquire);
    if (format == nullptr) {
        format = ModuleEntriesOf<FormatModuleEntries>(module_).format;
        loaded_.store(format, std::memory_order_release);
    }
    return *format;
}

const PictureFormat* ModuleFormat::tryLoaded(std::string* why) const {
    try {
        return &loaded();
    } catch (const RuntimeError& e) {
        if (why != nullptr) {
            *why = e.description();
        }
        return nullptr;
    }
}

void ModuleFormat::probe(Bytes bytes, PictureProbe& probe) const {
    std::string why;
    if (const PictureFormat* format = tryLoaded(&why)) {
        format->probe(bytes, probe);
    } else {
        probe.refused = why;
    }
}

std::string ModuleFormat::refusal(const PictureProbe& probe) const {
    const PictureFormat* format = tryLoaded();
    return format != nullptr ? format->refusal(probe) : PictureFormat::refusal(probe);
}

bool ModuleFormat::statesOrientation() const {
    const PictureFormat* format = tryLoaded();
    return format != nullptr && format->statesOrientation();
}

// A refused picture is charged nothing more than its probe, and never decoded: what the charge
// says matters only when the module is there.
std::uint64_t ModuleFormat::workingBytes(const PictureProbe& probe) const {
    const PictureFormat* format = tryLoaded();
    return format != nullptr ? format->workingBytes(probe) : 0;
}

double ModuleFormat::nanosPerPixel(const PictureProbe& probe) const {
    const PictureFormat* format = tryLoaded();
    return format != nullptr ? format->nanosPerPixel(probe) : 0;
}

BgrxImage ModuleFormat::decode(Bytes bytes, const PictureProbe& probe, const QString& path) const {
    std::string why;
    const PictureFormat* format = tryLoaded(&why);
    if (format == nullptr) {
        throw CannotLoad(path, ErrorNumber::InvalidPicture,
                         "the picture is not supported (" + why + ")");
    }
    return format->decode(bytes, probe, path);
}

BgrxImage ModuleFormat::quickLook(Bytes bytes, const PictureProbe& probe, const QString& path,
                                  int side) const {
    const PictureFormat* format = tryLoaded();
    return format != nullptr ? format->quickLook(bytes, probe, path, side) : BgrxImage{};
}

CaptureData ModuleFormat::captureData(Bytes bytes, int width, int height) const {
    std::string why;
    if (const PictureFormat* format = tryLoaded(&why)) {
        return format->captureData(bytes, width, height);
    }
    CaptureData none;
    none.leftOut = "its capture data cannot be read: " + why;
    return none;
}

const PictureFormat& HeifFormat() {
    static const ModuleFormat format(PictureType::Heif, "HEIF", ClaimsHeif, "heif");
    return format;
}

const PictureFormat& JxlFormat() {
    static const ModuleFormat format(PictureType::Jxl, "JPEG XL", ClaimsJxl, "jxl");
    return format;
}

const PictureFormat& RawFormat() {
    static const ModuleFormat format(PictureType::Raw, "camera raw", ClaimsRaw, "raw");
    return format;
}
