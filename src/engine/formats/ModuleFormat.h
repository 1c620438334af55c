#pragma once

#include "engine/formats/PictureFormat.h"

#include <atomic>
#include <string>

// A kind whose decoding lives in a module of its own (ProgramModule.h), with the libraries it
// needs: it claims its files by their first bytes without the module, which is loaded the first
// time one of them is probed, and does the rest. When the module cannot be loaded, its pictures
// are refused with the reason, and nothing else fails.
class ModuleFormat final : public PictureFormat {
  public:
    using Claims = bool (*)(Bytes head);
    // `module` names the module (a string literal); `name` and `claims` are the kind's.
    ModuleFormat(PictureType type, const char* name, Claims claims, const char* module)
        : type_(type), name_(name), claims_(claims), module_(module) {}

    PictureType type() const override { return type_; }
    const char* name() const override { return name_; }
    bool claims(Bytes head) const override { return claims_(head); }
    void probe(Bytes bytes, PictureProbe& probe) const override;
    std::string refusal(const PictureProbe& probe) const override;
    bool statesOrientation() const override;
    std::uint64_t workingBytes(const PictureProbe& probe) const override;
    double nanosPerPixel(const PictureProbe& probe) const override;
    BgrxImage decode(Bytes bytes, const PictureProbe& probe, const QString& path) const override;
    BgrxImage quickLook(Bytes bytes, const PictureProbe& probe, const QString& path,
                        int side) const override;
    CaptureData captureData(Bytes bytes, int width, int height) const override;

  private:
    // The module's own object; raises RuntimeError when the module cannot be loaded.
    const PictureFormat& loaded() const;
    // The same, or null with `why` the reason.
    const PictureFormat* tryLoaded(std::string* why = nullptr) const;

    PictureType type_;
    const char* name_;
    Claims claims_;
    const char* module_;
    mutable std::atomic<const PictureFormat*> loaded_{nullptr};
};
