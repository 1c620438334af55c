#include "imagelist/AddFolder.h"

#include "base/Dialogs.h"
#include "base/FileExists.h"
#include "base/PathBytes.h"
#include "base/RuntimeError.h"
#include "base/Trap.h"
#include "base/TrapLabels.h"
#include "imagelist/CleanPath.h"
#include "imagelist/WorkAhead.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

#include <fnmatch.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kHiddenSystemFolder = 22;
constexpr int kHiddenSystemLink = 1046;
constexpr int kArchiveHiddenFile = 34;

bool isHiddenName(const QString& path) {
    return QFileInfo(QDir::cleanPath(path)).fileName().startsWith(QLatin1Char('.'));
}

bool ownerMayWrite(const QString& path) {
    struct stat info {};
    return ::stat(PathBytes(path).constData(), &info) == 0 && (info.st_mode & S_IWUSR);
}

bool isLink(const QString& path) {
    struct stat info {};
    const QByteArray p = PathBytes(QDir::cleanPath(path));
    return ::lstat(p.constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool walkedInto(const QString& folder) {
    if (!isHiddenName(folder)) {
        return true;  // only a hidden folder can be hidden + system
    }
    const int a = FolderAttributes(folder);
    return IsDriveRoot(folder) || (a != kHiddenSystemFolder && a != kHiddenSystemLink);
}

}  // namespace

bool CanOpenFile(const QString& path) {
    struct stat info {};
    const QByteArray p = PathBytes(path);
    return !p.isEmpty() && ::stat(p.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(p.constData(), R_OK) == 0;
}

bool HasBadNameChars(const QString& name) {
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u < 32 || (u >= 127 && u <= 159) || u == u'?') {
            return true;
        }
    }
    return false;
}

bool MatchesPattern(const QString& name, const QString& pattern) {
    if (pattern == QLatin1String("*.*")) {
        return true;
    }
    // "[" is an ordinary character here; in the matcher it opens a set, so it becomes a set
    // that holds just "[".
    const QByteArray p = PathBytes(QString(pattern).replace(QLatin1Char('['), "[[]"));
    return ::fnmatch(p.constData(), PathBytes(name).constData(), FNM_CASEFOLD | FNM_NOESCAPE) == 0;
}

int FolderAttributes(const QString& path) {
    int attributes = 16;
    if (isHiddenName(path)) {
        attributes |= 2 | 4;
    }
    if (isLink(path)) {
        attributes |= 1024;
    }
    if (!ownerMayWrite(path)) {
        attributes |= 1;
    }
    return attributes;
}

int FileAttributes(const QString& path) {
    int attributes = 32;
    if (isHiddenName(path)) {
        attributes |= 2;
    }
    if (!ownerMayWrite(path)) {
        attributes |= 1;
    }
    return attributes;
}

bool IsDriveRoot(const QString& folder) {
    const QByteArray self = PathBytes(QDir::cleanPath(folder));
    struct stat here {};
    struct stat above {};
    if (::stat(self.constData(), &here) != 0 || ::stat((self + "/..").constData(), &above) != 0) {
        return false;
    }
    // The root is its own parent; a mount point lies on another device than its parent.
    return here.st_dev != above.st_dev || here.st_ino == above.st_ino;
}

QString BrowseForFolder(Dialogs& dialogs, const QString& prompt, const QString& startFolder) {
    return dialogs.browseForFolder(prompt, FolderExists(startFolder) ? startFolder : QString());
}

FolderScan::FolderScan(Dialogs& dialogs, std::function<bool()> yield, FolderListing& listing)
    : dialogs_(dialogs), yield_(std::move(yield)), listing_(listing) {}

bool FolderScan::yield() {
    if (!stopped_ && yield_ && !yield_()) {
        stopped_ = true;
    }
    return !stopped_;
}

namespace {

std::optional<std::pair<dev_t, ino_t>> identityOf(const QString& folder) {
    struct stat info {};
    if (::stat(PathBytes(folder).constData(), &info) != 0) {
        return std::nullopt;  // not there; the folder test decides about it
    }
    return std::pair{info.st_dev, info.st_ino};
}

}  // namespace

bool FolderScan::claimReal(const QString& folder) {
    const auto identity = identityOf(folder);
    return !identity || real_.insert(*identity).second;
}

bool FolderScan::walkThroughLink(const QString& folder) {
    const auto identity = identityOf(folder);
    return !identity || (real_.count(*identity) == 0 && walked_.insert(*identity).second);
}

void FolderScan::GetSubDirectories2016(QStringList& folders, bool recurse) {
    subDirectories(folders, recurse);
}

qsizetype FolderScan::subDirectories(QStringList& folders, bool recurse) {
    Trap trap(dialogs_, TrapLabel::GetSubDirectories2016);
    qsizetype appended = 0;
    const QChar separator = QDir::separator();
    QStringList found;
    // The listings of this level, read ahead on other threads while this one checks each folder
    // in turn. Step 2.6 may take folders out of the list; the pass goes through them as given.
    const QStringList given = folders;
    WorkAhead<std::vector<FolderListing::Entry>> listings(
        given.size(), [&](qsizetype i) { return listing_.entries(given.at(i)); });
    // A link to a folder that is walked already, or that this level or one above holds under a
    // path without a link: that path stays, and the link leaves the list. Judged before this
    // level's walk finds the next level's folders, so that the answer does not hang on order.
    std::vector<bool> duplicate(static_cast<std::size_t>(given.size()), false);
    for (qsizetype j = 0; j < given.size(); ++j) {
        duplicate[static_cast<std::size_t>(j)] =
            throughLink_.count(given.at(j)) != 0 && !walkThroughLink(given.at(j));
    }
    // 106 to 148: one pass over the given folders.
    for (qsizetype j = 0; j < given.size() && !stopped_; ++j) {
        const QString& d = given.at(j);
        if (!trap.test(108, [&] { return FolderExists(d); })) {
            continue;
        }
        if (!trap.test(110, [&] { return d.size() < PATH_MAX; })) {
            continue;
        }
        trap.line(114, [&] { yield(); });
        if (!trap.test(116, [&] { return walkedInto(d); })) {
            continue;
        }
        if (duplicate[static_cast<std::size_t>(j)]) {
            folders.removeOne(d);
            continue;
        }
        std::vector<FolderListing::Entry>* entries = nullptr;
        try {
            entries = &(listed_[d] = listings.take(j));  // 118
        } catch (const RuntimeError& e) {
            // 138 to 148: a folder that may not be read, or is gone, leaves the list.
            if (e.number() == ErrorNumber::PermissionDenied ||
                e.number() == ErrorNumber::PathNotFound) {
                folders.removeOne(d);
            }
            continue;
        }
        for (const FolderListing::Entry& entry : *entries) {
            if (entry.kind != FolderListing::Kind::Folder || stopped_) {
                continue;
            }
            trap.line(120, [&] { yield(); });
            const QString& name = entry.name;  // 122
            if (HasBadNameChars(name) || name.contains(QLatin1Char('?')) ||
                name == QLatin1String(".") || name == QLatin1String("..")) {
                continue;  // 124 to 130
            }
            const QString sub = d + name + separator;
            if (entry.link || throughLink_.count(d) != 0) {
                throughLink_.insert(sub);  // judged when its turn to be walked comes
            } else if (walkedInto(sub) && !claimReal(sub)) {
                continue;  // a folder mounted twice: taken once
            }
            trap.line(132, [&] { found.append(sub); });
        }
    }
    // The levels below were checked as they joined this level's list, which holds them after
    // its own folders: checking them again at every level above would cost the cube of the depth.
    qsizetype checkedBelow = 0;
    if (trap.test(150, [&] { return recurse && !found.isEmpty() && !stopped_; })) {
        checkedBelow = subDirectories(found, true);
    }
    // 152 to 160: the folders found, with the levels below them, join the list.
    for (qsizetype i = 0; i < found.size(); ++i) {
        const QString& e = found.at(i);
        if (stopped_) {
            break;
        }
        if (i >= found.size() - checkedBelow) {
            folders.append(e);
            ++appended;
            continue;
        }
        if (!FolderExists(e)) {
            continue;
        }
        trap.line(154, [&] { yield(); });
        if (trap.test(156, [&] { return walkedInto(e); })) {
            trap.line(158, [&] {
                folders.append(e);
                ++appended;
            });
        }
    }
    return appended;
}

std::vector<FolderListing::Entry> FolderScan::listing(const QString& folder) {
    const auto kept = listed_.find(folder);
    if (kept == listed_.end()) {
        return listing_.entries(folder);
    }
    std::vector<FolderListing::Entry> entries = std::move(kept->second);
    listed_.erase(kept);
    return entries;
}

QStringList FolderScan::GetFilesInFolder(const QString& folder, const QString& pattern) {
    const QString dir = folder.endsWith(QDir::separator()) ? folder : folder + QDir::separator();
    return filesMatching(dir, listing(dir), pattern);
}

QStringList FolderScan::filesMatching(const QString& dir, std::vector<FolderListing::Entry> entries,
                                      const QString& pattern) {
    QStringList matching;
    for (const FolderListing::Entry& entry : entries) {
        if (entry.kind == FolderListing::Kind::File && MatchesPattern(entry.name, pattern)) {
            matching.append(entry.name);
        }
    }
    const std::vector<bool> readable = listing_.readable(dir, matching);
    QStringList names;
    for (qsizetype i = 0; i < matching.size(); ++i) {
        if (readable[i]) {
            names.append(matching.at(i));
        }
    }
    return names;
}

void FolderScan::CollectFolderFiles(const QString& root, const QString& pattern, Trap& trap,
                                    const std::function<void(const QString&)>& found) {
    QStringList folders;
    trap.line(114, [&] {
        folders = {JoinPath(root, QString())};  // the root with its final separator
        claimReal(folders.first());
    });
    trap.line(116, [&] { GetSubDirectories2016(folders, true); });
    if (stopped_) {
        return;
    }
    // What the subfolder scan listed goes to the thread that lists the files; the rest it lists
    // itself.
    std::vector<std::optional<std::vector<FolderListing::Entry>>> kept(folders.size());
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const auto at = listed_.find(folders.at(i));
        if (at != listed_.end()) {
            kept[i] = std::move(at->second);
            listed_.erase(at);
        }
    }
    WorkAhead<QStringList> ahead(folders.size(), [&](qsizetype i) {
        const QString& dir = folders.at(i);
        return filesMatching(dir, kept[i] ? std::move(*kept[i]) : listing_.entries(dir), pattern);
    });
    for (qsizetype i = 0; i < folders.size(); ++i) {  // 118
        if (stopped_) {
            return;
        }
        QString folder;
        QStringList names;
        trap.line(120, [&] { folder = folders.at(i).chopped(1); });
        trap.line(122, [&] { names = ahead.take(i); });
        for (const QString& name : std::as_const(names)) {  // 124
            if (name.startsWith(QLatin1Char('~'))) {        // 126
                continue;
            }
            QString path;
            trap.line(128, [&] { path = JoinPath(folder, name); });
            // 132: only files that open were listed; the attributes remain, and only a hidden
            // name can give archive + hidden.
            trap.line(132, [&] {
                if (!name.startsWith(QLatin1Char('.')) ||
                    FileAttributes(path) != kArchiveHiddenFile) {
                    found(path);
                }
            });
        }
    }
}
