#include "imagelist/FolderListing.h"

#include "shell/RuntimeError.h"

#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

class SystemListing : public FolderListing {
  public:
    std::vector<Entry> entries(const QString& folder) override {
        const QByteArray path = QFile::encodeName(folder);
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.constData()), &::closedir);
        if (!dir) {
            const int e = errno;
            throw RuntimeError(e == ENOENT || e == ENOTDIR ? ErrorNumber::PathNotFound
                               : e == EACCES || e == EPERM ? ErrorNumber::PermissionDenied
                                                           : ErrorNumber::PathFileAccess,
                               RuntimeError::fromErrno(e, folder.toStdString()).description());
        }
        std::vector<Entry> found;
        errno = 0;
        while (const dirent* d = ::readdir(dir.get())) {
            const char* name = d->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
                continue;
            }
            Entry entry{QFile::decodeName(name), Kind::Other, d->d_type == DT_LNK};
            unsigned char type = d->d_type;
            if (type == DT_LNK || type == DT_UNKNOWN) {
                // Only these need a look at the entry itself.
                struct stat info {};
                const QByteArray full = path + '/' + name;
                type = ::stat(full.constData(), &info) != 0 ? DT_UNKNOWN
                       : S_ISDIR(info.st_mode)              ? DT_DIR
                       : S_ISREG(info.st_mode)              ? DT_REG
                                                            : DT_UNKNOWN;
            }
            entry.kind = type == DT_DIR ? Kind::Folder : type == DT_REG ? Kind::File : Kind::Other;
            found.push_back(std::move(entry));
        }
        std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) {
            const int folded = a.name.compare(b.name, Qt::CaseInsensitive);
            return folded != 0 ? folded < 0 : a.name < b.name;
        });
        return found;
    }
};

}  // namespace

FolderListing& FolderListing::system() {
    static SystemListing listing;
    return listing;
}
