// The module of the HEIF and AVIF pictures, with the libraries they need.
#include "engine/formats/LoadedFormats.h"
#include "engine/formats/ModuleEntries.h"
#include "engine/formats/ProgramModule.h"

#include <string_view>

namespace {

const FormatModuleEntries entries{&LoadedHeifFormat()};

}  // namespace

TONVALER_MODULE_ENTRIES("heif", entries)
