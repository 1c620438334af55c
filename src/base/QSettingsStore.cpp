#include "base/QSettingsStore.h"

#include "base/RuntimeError.h"

#include <QSettings>

namespace {

const QString kSection = QStringLiteral("Tonvaler Software");

QString userStorePath() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Kestrova"))
        .fileName();
}

QString address(const QString& section, const QString& key) {
    return section + QLatin1Char('/') + key;
}

}  // namespace

QSettingsStore::QSettingsStore() : filePath_(userStorePath()) {}

QSettingsStore::QSettingsStore(QString filePath) : filePath_(std::move(filePath)) {}

// A QSettings object per call: its status then tells about this call only, and another running
// copy's writes are seen at once.
QString QSettingsStore::read(const QString& key, const QString& defaultText) {
    return readIn(kSection, key, defaultText);
}

void QSettingsStore::write(const QString& key, const QString& text) {
    writeIn(kSection, key, text);
}

QString QSettingsStore::readIn(const QString& section, const QString& key,
                               const QString& defaultText) {
    QSettings settings(filePath_, QSettings::IniFormat);
    const QVariant value = settings.value(address(section, key));
    if (!value.isValid()) {
        return defaultText;
    }
    // A value edited by hand with an unquoted comma reads back as a list.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QStringLiteral(", "));
    }
    return value.toString();
}

void QSettingsStore::writeIn(const QString& section, const QString& key, const QString& text) {
    QSettings settings(filePath_, QSettings::IniFormat);
    settings.setValue(address(section, key), text);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        throw RuntimeError(ErrorNumber::PathFileAccess,
                           "Cannot write the settings file " + filePath_.toStdString());
    }
}
