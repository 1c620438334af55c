#include "engine/ConversionSettings.h"

void CurrentSettings::set(ConversionSettings settings) {
    const std::lock_guard lock(mutex_);
    settings_ = std::move(settings);
}

ConversionSettings CurrentSettings::get() const {
    const std::lock_guard lock(mutex_);
    return settings_;
}
