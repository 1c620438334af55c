#pragma once

#include <QString>

#include <cstdint>

// The memory limit that applies to this process through its control groups, version 1 or 2:
// the least of the limits of the groups it is in (each named in /proc/self/cgroup) and of every
// group above them, up to the hierarchy's root as this process sees it.
struct ControlGroupMemory {
    std::uint64_t bytes = 0;  // 0: no limit found
    QString file;             // the file that set it, as the system names it
};

// `root` is where the file system is read from: "" for the system's own, a folder laid out the
// same way in tests. Never raises.
ControlGroupMemory ControlGroupMemoryLimit(const QString& root = {});
