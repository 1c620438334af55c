#pragma once

#include <QString>

#include <cstdint>

// Converts stored text to a 32-bit integer the way the settings readers need: blanks around the
// number are ignored, a fraction rounds to the nearest integer with ties to even ("84.5" gives
// 84). Raises RuntimeError 13 (type mismatch) for text that is not a number and 6 (overflow)
// for a number outside the 32-bit range.
std::int32_t TextToLong(const QString& text);
