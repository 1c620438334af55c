#include "base/NumberText.h"

#include "base/RuntimeError.h"

#include <cmath>
#include <limits>

std::int32_t TextToLong(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);  // C locale: "." is the decimal point
    if (!ok || !std::isfinite(value)) {
        throw RuntimeError(ErrorNumber::TypeMismatch,
                           "Type mismatch: \"" + text.toStdString() + "\" is not a number");
    }
    const double rounded = std::nearbyint(value);  // the default rounding mode: ties to even
    if (rounded < std::numeric_limits<std::int32_t>::min() ||
        rounded > std::numeric_limits<std::int32_t>::max()) {
        throw RuntimeError(ErrorNumber::Overflow,
                           "Overflow: " + text.toStdString() + " does not fit a 32-bit integer");
    }
    return static_cast<std::int32_t>(rounded);
}
