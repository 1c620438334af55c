#include "cli/TreeWalk.h"

#include "base/PathBytes.h"
#include "base/RuntimeError.h"
#include "imagelist/AddFolder.h"
#include "imagelist/CleanPath.h"
#include "imagelist/FolderListing.h"

#include <sys/stat.h>

#include <deque>
#include <set>
#include <utility>

void WalkTree(const QString& root, const QString& pattern,
              const std::function<void(const QString& path, const QString& below)>& found,
              const std::function<void(const QString& folder, const QString& reason)>& unreadable) {
    struct Folder {
        QString path;
        QString below;
        bool throughLink;
    };
    // What is reached through a link waits until everything reached without one is walked, so
    // that a folder that can be reached both ways keeps its own path.
    std::deque<Folder> waiting{{root, {}, false}};
    std::deque<Folder> linked;
    std::set<std::pair<dev_t, ino_t>> walked;
    while (!waiting.empty() || !linked.empty()) {
        std::deque<Folder>& from = waiting.empty() ? linked : waiting;
        const Folder folder = std::move(from.front());
        from.pop_front();
        struct stat info {};
        if (::stat(PathBytes(folder.path).constData(), &info) == 0 &&
            !walked.insert({info.st_dev, info.st_ino}).second) {
            continue;  // a link to a folder walked already, or to one above
        }
        std::vector<FolderListing::Entry> entries;
        try {
            entries = FolderListing::system().entries(folder.path);
        } catch (const RuntimeError& e) {
            unreadable(
                folder.path,
                QStringLiteral("cannot read the folder (%1)")
                    .arg(QString::fromStdString(e.cause().empty() ? e.description() : e.cause())));
            continue;
        }
        for (const FolderListing::Entry& entry : entries) {
            if (entry.name.startsWith(QLatin1Char('.'))) {
                continue;
            }
            const QString path = JoinPath(folder.path, entry.name);
            if (entry.kind == FolderListing::Kind::Folder) {
                const bool throughLink = folder.throughLink || entry.link;
                (throughLink ? linked : waiting)
                    .push_back({path,
                                folder.below.isEmpty()
                                    ? entry.name
                                    : folder.below + QLatin1Char('/') + entry.name,
                                throughLink});
            } else if (entry.kind == FolderListing::Kind::File &&
                       !entry.name.startsWith(QLatin1Char('~')) &&
                       MatchesPattern(entry.name, pattern)) {
                found(path, folder.below);
            }
        }
    }
}
