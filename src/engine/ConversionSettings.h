#pragma once

#include "filter/BlackWhiteFilter.h"

#include <QString>

#include <mutex>

// What a picture is converted with.
struct ConversionSettings {
    FilterThresholds thresholds;
    int quality = 85;      // the JPEG quality, 1 to 100
    QString outputFolder;  // as typed; the output path is the folder, the separator, the name
};

// The settings as they stand: set on the window's thread whenever one changes, taken by a worker
// when it begins a picture, so that every picture begun after a change has the new values and a
// picture already begun keeps its own. Thread-safe.
class CurrentSettings {
  public:
    CurrentSettings() = default;
    explicit CurrentSettings(ConversionSettings settings) : settings_(std::move(settings)) {}

    void set(ConversionSettings settings);
    ConversionSettings get() const;

  private:
    mutable std::mutex mutex_;
    ConversionSettings settings_;
};
