#pragma once

#include "imagelist/FolderListing.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <set>
#include <utility>

#include <sys/types.h>

class Dialogs;
class Trap;

// Turning folders into file paths for the image list: the tree below a folder, breadth-first,
// and the files of each folder that match a pattern. Runs on the window's thread and lets the
// event loop run at the points the scan names, so the window repaints during a long walk.
//
// The attributes of the original platform map onto names and permissions: a name that begins
// with "." is hidden; a hidden folder counts as hidden + system (22, or 1046 when reached through
// a link) and is not walked into; a hidden file counts as archive + hidden (34) and is left out of
// walks; no write permission for the owner adds read-only (1); a drive root is "/" or a mount
// point.
class FolderScan {
  public:
    // `yield` runs the event loop and answers whether to go on (false once the window closes).
    // The scan keeps references to `dialogs` and `listing`; both must outlive it. The walk asks
    // `listing` from a thread of its own as well as from the calling thread.
    FolderScan(Dialogs& dialogs, std::function<bool()> yield,
               FolderListing& listing = FolderListing::system());

    // Extends `folders` (full paths, each ending in the separator) with every folder below them,
    // level by level: the subfolders of the given folders, then theirs, and so on. Folders that
    // cannot be listed for want of permission or because they are gone are removed. A link is
    // walked like any folder, unless what it leads to is walked already or is a folder that its
    // level or one above holds under a path without a link, which then keeps that path; so
    // every loop ends. Trapped on its own; one call per level.
    void GetSubDirectories2016(QStringList& folders, bool recurse);

    // The names of the files in `folder` (with or without a final separator) that match
    // `pattern` and can be opened: hidden ones too, folders never. Raises RuntimeError when the
    // folder cannot be listed.
    QStringList GetFilesInFolder(const QString& folder, const QString& pattern);

    // The walk: `root`'s own files, then those of every folder below it, breadth-first, each
    // folder's files in name order, without names that begin with "~", hidden files, and files
    // that cannot be opened. Each full path is handed to `found` at once. Its steps are numbered
    // 114 to 134 under `trap`, the caller's.
    void CollectFolderFiles(const QString& root, const QString& pattern, Trap& trap,
                            const std::function<void(const QString&)>& found);

    // Whether a yield said to stop; the scan then returns as soon as it can.
    bool stopped() const { return stopped_; }

  private:
    using Identity = std::pair<dev_t, ino_t>;

    bool yield();
    // GetSubDirectories2016; answers how many folders it appended to `folders`, at its end.
    qsizetype subDirectories(QStringList& folders, bool recurse);
    // Takes `folder`, reached without a link, as the one path of what it is; false when another
    // path without a link was taken for it (a folder mounted twice).
    bool claimReal(const QString& folder);
    // Whether `folder`, reached through a link, is to be walked; then it counts as walked.
    bool walkThroughLink(const QString& folder);
    std::vector<FolderListing::Entry> listing(const QString& folder);
    // The files among `entries` of `dir` that match `pattern` and may be read.
    QStringList filesMatching(const QString& dir, std::vector<FolderListing::Entry> entries,
                              const QString& pattern);

    Dialogs& dialogs_;
    std::function<bool()> yield_;
    FolderListing& listing_;
    bool stopped_ = false;
    std::set<Identity> real_;        // folders found without a link on the way
    std::set<Identity> walked_;      // folders walked through a link
    std::set<QString> throughLink_;  // folders found through a link: it or one above is one
    // What the subfolder scan listed, kept for the listing of the files that follows, so that
    // each folder is read once.
    std::map<QString, std::vector<FolderListing::Entry>> listed_;
};

// Whether `path` is a regular file that may be read. Never raises.
bool CanOpenFile(const QString& path);

// Whether a folder name holds a character the scan does not follow: codes below 32, 127 to 159,
// or "?". Letters of any script are fine.
bool HasBadNameChars(const QString& name);

// Whether a file name matches a wildcard pattern as the original platform matches: letters
// without regard to case, "*" any run, "?" one character, "*.*" every name.
bool MatchesPattern(const QString& name, const QString& pattern);

// The attribute numbers of a folder and of a file, mapped as described above.
int FolderAttributes(const QString& path);
int FileAttributes(const QString& path);
bool IsDriveRoot(const QString& folder);

// The folder browser: `prompt` shown, opened on `startFolder` when it exists. Answers the chosen
// folder ("/" for the root, other folders without a final separator), or "" on cancel.
QString BrowseForFolder(Dialogs& dialogs, const QString& prompt, const QString& startFolder);
