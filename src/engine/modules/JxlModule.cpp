// The module of the JPEG XL pictures, with the libraries they need.
#include "engine/formats/LoadedFormats.h"
#include "engine/formats/ModuleEntries.h"
#include "engine/formats/ProgramModule.h"

#include <string_view>

namespace {

const FormatModuleEntries entries{&LoadedJxlFormat()};

}  // namespace

TONVALER_MODULE_ENTRIES("jxl", entries)
