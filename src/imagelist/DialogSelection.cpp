#include "imagelist/DialogSelection.h"

#include "base/RuntimeError.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The deepest folder that holds every path; "/" at worst.
QString commonFolder(const QStringList& paths) {
    const auto holds = [](const QString& folder, const QString& path) {
        return folder == QLatin1String("/") || path.startsWith(folder + QLatin1Char('/'));
    };
    QString folder = QFileInfo(paths.first()).absolutePath();
    for (const QString& p : paths) {
        while (!holds(folder, p)) {
            folder = QFileInfo(folder).absolutePath();
        }
    }
    return folder;
}

}  // namespace

QString JoinDialogSelection(const QStringList& absolutePaths, qsizetype bufferLength) {
    QString answer;
    if (absolutePaths.size() == 1) {
        answer = QDir::toNativeSeparators(absolutePaths.first());
    } else if (absolutePaths.size() > 1) {
        const QDir folder(commonFolder(absolutePaths));
        answer = QDir::toNativeSeparators(folder.absolutePath());
        for (const QString& p : absolutePaths) {
            answer += QChar(0) + QDir::toNativeSeparators(folder.relativeFilePath(p));
        }
    }
    if (answer.size() > bufferLength) {
        throw RuntimeError(ErrorNumber::TooManyFilesSelected,
                           "The selected file names do not fit the dialog's buffer");
    }
    return answer;
}
