#include "imagelist/SampleFiles.h"

#include "base/AppTitle.h"
#include "base/Dialogs.h"
#include "base/FileExists.h"
#include "base/ProgramFiles.h"
#include "base/SettingsStore.h"
#include "imagelist/AddFolder.h"
#include "imagelist/ImageList.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <cstring>

namespace {

// Both directions walk the key alike: s = c ± k, folded back into 1 to 255.
QByteArray shift(const QByteArray& bytes, const char* key, int direction,
                 const std::function<bool()>& yield) {
    QByteArray out(bytes.size(), '\0');
    const std::size_t length = std::strlen(key);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (yield) {
            yield();
        }
        const int c = static_cast<unsigned char>(bytes[i]);
        const int k = static_cast<unsigned char>(key[static_cast<std::size_t>(i) % length]);
        int s = c + direction * k;
        if (s > 255) {
            s -= 255;
        } else if (s < 1) {
            s += 255;
        }
        out[i] = static_cast<char>(s);
    }
    return out;
}

}  // namespace

QString SamplesFolder(const QString& programFolder) {
    return ProgramFile(programFolder, QStringLiteral("Samples"));
}

// The stored form holds one character a byte (codes 1 to 255), which the store keeps exactly.
QString ScrambleText(const QString& text, const char* key, const std::function<bool()>& yield) {
    return QString::fromLatin1(shift(text.toUtf8(), key, +1, yield));
}

QString UnscrambleText(const QString& text, const char* key, const std::function<bool()>& yield) {
    return QString::fromUtf8(shift(text.toLatin1(), key, -1, yield));
}

void RecordSamples(SettingsStore& settings, FolderScan& scan, const QString& samplesFolder,
                   const std::function<bool()>& yield) {
    QStringList paths;
    if (QFileInfo(samplesFolder).isDir()) {  // no samples folder is no failure: nothing found
        for (const QString& name : scan.GetFilesInFolder(samplesFolder, QStringLiteral("*.*"))) {
            paths.append(samplesFolder + QDir::separator() + name);
        }
    }
    settings.write(SettingKey::Snapshot,
                   ScrambleText(paths.join(QLatin1Char('|')), kSampleKey, yield));
}

bool SampleRecordWanted(SettingsStore& settings, const QString& samplesFolder,
                        const std::function<bool()>& yield) {
    const QString stored = settings.read(SettingKey::Snapshot, QString());
    if (stored.isEmpty()) {
        return true;
    }
    const QString folder = samplesFolder + QDir::separator();
    const QStringList paths = UnscrambleText(stored, kSampleKey, yield).split(QLatin1Char('|'));
    return std::none_of(paths.begin(), paths.end(), [&](const QString& path) {
        return path.startsWith(folder) && !path.mid(folder.size()).contains(QDir::separator());
    });
}

void LoadSamples(ImageList& list, SettingsStore& settings, Dialogs& dialogs,
                 const QString& samplesFolder, const std::function<bool()>& yield) {
    // An absent record reads as the text of false, and unscrambles to a name of nothing.
    const QString record = UnscrambleText(
        settings.read(SettingKey::Snapshot, QStringLiteral("false")), kSampleKey, yield);
    if (!record.isEmpty()) {
        for (const QString& path : record.split(QLatin1Char('|'))) {
            if (FileExists(path) && !list.ContainsPath(path)) {
                list.AddImagePath(path);
            }
        }
    }
    const Dialogs::Answer answer = dialogs.messageBox(
        QStringLiteral("Would you like this software to open the folder where these sample files "
                       "are stored (so that you can view them before working with them)?"),
        Dialogs::Style::YesNo, AppTitle());
    if (answer == Dialogs::Answer::Yes) {
        dialogs.openUrl(QUrl::fromLocalFile(samplesFolder + QDir::separator()));
    }
}
