#include "cli/CliInputs.h"

#include "base/PathBytes.h"
#include "base/RuntimeError.h"
#include "cli/CliOptions.h"
#include "cli/ConsoleDialogs.h"
#include "cli/ParallelFor.h"
#include "cli/TreeWalk.h"
#include "engine/BatchPaths.h"
#include "imagelist/AddFolder.h"
#include "imagelist/CleanPath.h"
#include "imagelist/SampleFiles.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// A relative path's own folders, when they stay below where it is read from.
QString ownFolders(const QString& path) {
    if (QDir::isAbsolutePath(path)) {
        return {};
    }
    const QString folder = QDir::cleanPath(QFileInfo(path).path());
    if (folder == QLatin1String(".") || folder == QLatin1String("..") ||
        folder.startsWith(QLatin1String("../"))) {
        return {};
    }
    return folder;
}

// The paths in --files-from, one a line (or ending in NUL), empty ones skipped.
QStringList listedPaths(const CliOptions& options) {
    const bool standardInput = options.filesFrom == QLatin1String("-");
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        standardInput ? stdin : std::fopen(PathBytes(options.filesFrom).constData(), "rb"),
        standardInput ? [](std::FILE*) { return 0; } : &std::fclose);
    if (!file) {
        throw RuntimeError::fromErrno(errno, PathBytes(options.filesFrom).toStdString());
    }
    QByteArray bytes;
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        bytes.append(buffer, static_cast<qsizetype>(n));
    }
    if (std::ferror(file.get())) {  // a folder, say: fopen takes it, reading fails
        throw RuntimeError::fromErrno(errno, PathBytes(options.filesFrom).toStdString());
    }
    QStringList paths;
    for (QByteArray line : bytes.split(options.nullSeparated ? '\0' : '\n')) {
        if (!options.nullSeparated && line.endsWith('\r')) {
            line.chop(1);  // a list written with Windows line ends
        }
        if (!line.isEmpty()) {
            paths.append(PathText(line));
        }
    }
    return paths;
}

}  // namespace

bool InShard(const QString& path, int shard, int shardCount) {
    std::uint64_t hash = 14695981039346656037u;  // 64-bit FNV-1a
    for (const char c : PathBytes(path)) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
    }
    // FNV's low bits depend on the low bits of the bytes alone: mix every bit into them before
    // taking the remainder (MurmurHash3's finaliser).
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdu;
    hash ^= hash >> 33;
    hash *= 0xc4ceb9fe1a85ec53u;
    hash ^= hash >> 33;
    return static_cast<int>(hash % static_cast<std::uint64_t>(shardCount)) == shard - 1;
}

Gathered GatherInputs(const CliOptions& options, const QString& programFolder) {
    Gathered gathered;
    std::vector<CliInput>& inputs = gathered.inputs;
    std::vector<CliLeftOut>& failed = gathered.failed;
    if (options.samples) {
        const QString folder = SamplesFolder(programFolder);
        if (QFileInfo(folder).isDir()) {
            ConsoleDialogs dialogs;
            FolderScan samples(dialogs, {});
            for (const QString& name : samples.GetFilesInFolder(folder, QStringLiteral("*.*"))) {
                inputs.push_back({folder + QDir::separator() + name, {}});
            }
        }
    }
    const QString pattern = options.extension.isEmpty() ? QStringLiteral("*.*")
                                                        : QStringLiteral("*.") + options.extension;
    const auto add = [&](const QString& path, bool listed) {
        struct stat info {};
        if (::stat(PathBytes(path).constData(), &info) != 0) {
            failed.push_back({path, {}, QString::fromLocal8Bit(std::strerror(errno))});
        } else if (S_ISDIR(info.st_mode)) {
            gathered.folders.append(path);
            WalkTree(
                NormalisedFolder(path), pattern,
                [&](const QString& file, const QString& below) {
                    inputs.push_back({file, below});
                },
                [&](const QString& folder, const QString& reason) {
                    failed.push_back({folder, {}, reason});
                });
        } else {
            inputs.push_back({path, listed ? ownFolders(path) : QString()});
        }
    };
    for (const QString& path : options.paths) {
        add(path, false);
    }
    if (!options.filesFrom.isEmpty()) {
        for (const QString& path : listedPaths(options)) {
            add(path, true);
        }
    }
    // What cannot be opened fails here, as it would when converted, so that a dry run says so.
    std::vector<int> refused(inputs.size());  // errno, or 0 when readable
    ParallelFor(inputs.size(), [&](std::size_t i) {
        const bool readable =
            ::faccessat(AT_FDCWD, PathBytes(inputs[i].path).constData(), R_OK, AT_EACCESS) == 0;
        refused[i] = readable ? 0 : errno;
    });
    std::size_t i = 0;
    std::erase_if(inputs, [&](const CliInput& input) {
        const int error = refused[i++];
        if (error == 0) {
            return false;
        }
        failed.push_back({input.path, {}, QString::fromLocal8Bit(std::strerror(error))});
        return true;
    });
    return gathered;
}

QString OutputPathOf(const CliOptions& options, const CliInput& input) {
    const QString extension =
        options.format == PictureJob::Format::Png ? QStringLiteral("png") : QStringLiteral("jpg");
    const QString folder = options.keepTree && !input.subfolder.isEmpty()
                               ? options.outputFolder + QLatin1Char('/') + input.subfolder
                               : options.outputFolder;
    return OutputPath(folder, input.path, extension);
}
