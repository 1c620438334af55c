#pragma once

#include "engine/formats/PictureFormat.h"

// The kinds that live in modules of their own, as each module gives its kind to ModuleFormat
// (engine/modules): defined in the module, with the libraries its kind needs.
const PictureFormat& LoadedHeifFormat();
const PictureFormat& LoadedJxlFormat();
const PictureFormat& LoadedRawFormat();
