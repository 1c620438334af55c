#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// What a folder holds, as the folder scan needs to know it. A seam: tests list folders of their
// own making or make a listing fail.
class FolderListing {
  public:
    enum class Kind { File, Folder, Other };
    struct Entry {
        QString name;
        Kind kind;  // what it is, or what a symbolic link leads to
        bool link;  // reached through a symbolic link
    };

    virtual ~FolderListing() = default;

    // The entries of `folder` without "." and "..", in name order: letters without regard to
    // case first, then exactly. Raises RuntimeError 70 when the folder may not be read, 76 when
    // it is not there, and another number for other failures, with the system's reason as the
    // cause.
    virtual std::vector<Entry> entries(const QString& folder) = 0;

    // For each of `names`, files of `folder` as entries() told, whether this process may open it
    // for reading. Never raises: a folder that cannot be opened answers false for all.
    virtual std::vector<bool> readable(const QString& folder, const QStringList& names);

    // The listing of the file system.
    static FolderListing& system();
};
