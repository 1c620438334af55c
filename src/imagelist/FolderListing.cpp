#include "imagelist/FolderListing.h"

#include "base/PathBytes.h"
#include "base/RuntimeError.h"
#include "imagelist/AddFolder.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

class SystemListing : public FolderListing {
  public:
    std::vector<Entry> entries(const QString& folder) override {
        const QByteArray path = PathBytes(folder);
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.constData()), &::closedir);
        if (!dir) {
            const int e = errno;
            throw RuntimeError(e == ENOENT || e == ENOTDIR ? ErrorNumber::PathNotFound
                               : e == EACCES || e == EPERM ? ErrorNumber::PermissionDenied
                                                           : ErrorNumber::PathFileAccess,
                               RuntimeError::fromErrno(e, folder.toStdString()).description(),
                               std::strerror(e));
        }
        std::vector<Entry> found;
        errno = 0;
        while (const dirent* d = ::readdir(dir.get())) {
            const char* name = d->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
                continue;
            }
            Entry entry{PathText(name), Kind::Other, d->d_type == DT_LNK};
            unsigned char type = d->d_type;
            if (type == DT_LNK || type == DT_UNKNOWN) {
                // Only these need a look at the entry itself.
                struct stat info {};
                type = ::fstatat(::dirfd(dir.get()), name, &info, 0) != 0 ? DT_UNKNOWN
                       : S_ISDIR(info.st_mode)                            ? DT_DIR
                       : S_ISREG(info.st_mode)                            ? DT_REG
                                                                          : DT_UNKNOWN;
            }
            entry.kind = type == DT_DIR ? Kind::Folder : type == DT_REG ? Kind::File : Kind::Other;
            found.push_back(std::move(entry));
        }
        // Folded once each, not at every comparison.
        std::vector<std::pair<QString, std::size_t>> keys;
        keys.reserve(found.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            keys.emplace_back(found[i].name.toCaseFolded(), i);
        }
        std::sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
            return a.first != b.first ? a.first < b.first
                                      : found[a.second].name < found[b.second].name;
        });
        std::vector<Entry> sorted;
        sorted.reserve(found.size());
        for (const auto& key : keys) {
            sorted.push_back(std::move(found[key.second]));
        }
        found = std::move(sorted);
        return found;
    }

    std::vector<bool> readable(const QString& folder, const QStringList& names) override {
        std::vector<bool> answers(names.size(), false);
        const int dir = ::open(PathBytes(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0) {
            return answers;
        }
        // Relative to the open folder: no walk down the whole path for each file.
        for (qsizetype i = 0; i < names.size(); ++i) {
            answers[i] = ::faccessat(dir, PathBytes(names.at(i)).constData(), R_OK, 0) == 0;
        }
        ::close(dir);
        return answers;
    }
};

}  // namespace

std::vector<bool> FolderListing::readable(const QString& folder, const QStringList& names) {
    std::vector<bool> answers;
    for (const QString& name : names) {
        answers.push_back(CanOpenFile(folder + QLatin1Char('/') + name));
    }
    return answers;
}

FolderListing& FolderListing::system() {
    static SystemListing listing;
    return listing;
}
