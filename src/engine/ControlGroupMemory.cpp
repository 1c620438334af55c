#include "engine/ControlGroupMemory.h"

#include <QFile>
#include <QStringList>

namespace {

// Version 1 writes "no limit" as a number near 2^63.
constexpr std::uint64_t kNoLimit = std::uint64_t(1) << 62;

// The group `path` of the hierarchy mounted at `mount`, and every group above it.
void lowestOnTheWay(const QString& root, const QString& mount, QString path, const char* name,
                    ControlGroupMemory& least) {
    for (;;) {
        const QString file = mount + path + (path.endsWith('/') ? "" : "/") + name;
        QFile limit(root + file);
        if (limit.open(QIODevice::ReadOnly)) {
            bool number = false;
            const std::uint64_t bytes = limit.readAll().trimmed().toULongLong(&number);
            if (number && bytes > 0 && bytes < kNoLimit &&
                (least.bytes == 0 || bytes < least.bytes)) {
                least = {bytes, file};
            }
        }
        if (path.isEmpty() || path == QLatin1String("/")) {
            return;
        }
        path.truncate(path.lastIndexOf('/'));
    }
}

}  // namespace

ControlGroupMemory ControlGroupMemoryLimit(const QString& root) {
    ControlGroupMemory least;
    QFile groups(root + QStringLiteral("/proc/self/cgroup"));
    if (!groups.open(QIODevice::ReadOnly)) {
        return least;
    }
    // "0::/path" for version 2; "4:memory:/path" for version 1's memory hierarchy.
    for (const QByteArray& line : groups.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(':');
        if (parts.size() < 3) {
            continue;
        }
        const QString path = QString::fromUtf8(line.mid(parts[0].size() + parts[1].size() + 2));
        if (parts[0] == "0" && parts[1].isEmpty()) {
            for (const char* mount : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
                lowestOnTheWay(root, QString::fromLatin1(mount), path, "memory.max", least);
            }
        } else if (parts[1].split(',').contains("memory")) {
            lowestOnTheWay(root, QStringLiteral("/sys/fs/cgroup/memory"), path,
                           "memory.limit_in_bytes", least);
        }
    }
    return least;
}
