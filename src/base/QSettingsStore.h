#pragma once

#include "base/SettingsStore.h"

// The settings store on QSettings in INI format: the application name names the file
// (~/.config/Kestrova.ini), the section is its group. Every write is synced at once.
class QSettingsStore : public SettingsStore {
  public:
    // The current user's store.
    QSettingsStore();
    // A store in the INI file at `filePath` (for tests and tools).
    explicit QSettingsStore(QString filePath);

    QString read(const QString& key, const QString& defaultText) override;
    void write(const QString& key, const QString& text) override;
    QString readIn(const QString& section, const QString& key, const QString& defaultText) override;
    void writeIn(const QString& section, const QString& key, const QString& text) override;

    const QString& filePath() const { return filePath_; }

  private:
    QString filePath_;
};
