#pragma once

#include <QString>

// The per-user settings store: text values under the application name "Kestrova", the section
// "Tonvaler Software" and a key. Values are read at the moment of use with a default and written
// at the moment they change.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;

    // The stored text, or `defaultText` when the key was never written or cannot be read.
    virtual QString read(const QString& key, const QString& defaultText) = 0;

    // Stores `text` and makes it durable before returning. Raises RuntimeError when the store
    // cannot be written; the value is then not stored.
    virtual void write(const QString& key, const QString& text) = 0;

    // The same in a section of the same file other than the program's, for what the window alone
    // keeps (the preview's place and zoom).
    virtual QString readIn(const QString& section, const QString& key,
                           const QString& defaultText) = 0;
    virtual void writeIn(const QString& section, const QString& key, const QString& text) = 0;
};

namespace SettingKey {
inline const QString Slider1 = QStringLiteral("Slider1");
inline const QString Slider2 = QStringLiteral("Slider2");
inline const QString Slider3 = QStringLiteral("Slider3");
inline const QString Slider4 = QStringLiteral("Slider4");
inline const QString OutputFolder = QStringLiteral("Output Folder");
inline const QString LastFolderDot = QStringLiteral("LastFolderDot");
inline const QString LastFolder = QStringLiteral("LastFolder");
inline const QString Extension = QStringLiteral("Extension");
inline const QString Snapshot = QStringLiteral("Snapshot");
}  // namespace SettingKey
