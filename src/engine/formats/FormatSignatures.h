#pragma once

#include <cstdint>
#include <span>

// How the kinds that live in modules of their own (ModuleFormat) are told from their first bytes
// (16 are enough), without loading their module.
bool ClaimsHeif(std::span<const std::uint8_t> head);  // HEIC and AVIF: their ftyp brands
bool ClaimsJxl(std::span<const std::uint8_t> head);   // JPEG XL: a bare code stream or a container
// Camera raw files by their makers' own signatures; DNG and the Nikon and Sony raws in a plain
// TIFF structure are told from a TIFF by its module.
bool ClaimsRaw(std::span<const std::uint8_t> head);
