#include "imagelist/DropFiles.h"

#include "base/PathBytes.h"
#include "base/Trap.h"
#include "imagelist/AddFolder.h"
#include "imagelist/CleanPath.h"
#include "imagelist/ImageList.h"

#include <QFile>
#include <QMimeData>
#include <QUrl>

#include <sys/stat.h>

bool OffersFiles(const QMimeData* data) {
    return !DroppedPaths(data).isEmpty();
}

QStringList DroppedPaths(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr || !data->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            paths.append(url.toLocalFile());
        }
    }
    return paths;
}

void ListView1_OLEDragDrop(const QStringList& paths, ImageList& list, Dialogs& dialogs,
                           const std::function<bool()>& yield) {
    // The rows of a walk are added at each yield, as in "Add All": nothing shows in between.
    QStringList pending;
    const auto flush = [&] {
        list.AddImagePaths(pending);
        pending.clear();
    };
    for (const QString& path : paths) {
        struct stat info {};
        if (::stat(PathBytes(path).constData(), &info) != 0) {
            continue;  // gone, or not to be looked at: skipped
        }
        if (!S_ISDIR(info.st_mode)) {
            list.AddImagePath(path);
            continue;
        }
        FolderScan scan(dialogs, [&] {
            flush();
            return yield();
        });
        // A step of the walk that fails gives up what it was doing; nothing is reported.
        Trap quiet([](const RuntimeError&, int) {});
        scan.CollectFolderFiles(path, QStringLiteral("*.*"), quiet,
                                [&](const QString& p) { pending.append(CleanPath(p)); });
        flush();
        if (scan.stopped()) {
            return;
        }
    }
}
