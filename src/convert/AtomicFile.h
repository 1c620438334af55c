#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// Writes `size` bytes to `path` so that the path holds either its old file or the whole new one,
// never part of one: the bytes go to a hidden temporary file in the same folder, are flushed to
// the disk, and the temporary is renamed over the path. On failure the temporary is removed and
// an existing file at the path stays as it was. Raises RuntimeError with the system's cause.
// `failedAt`, when given, tells which step failed. Thread-safe for different paths.
enum class WriteStep { Create, Write, Replace };
void WriteFileAtomically(const QString& path, const std::uint8_t* data, std::size_t size,
                         WriteStep* failedAt = nullptr);

// The suffix of those temporary files, by which leftovers of an interrupted run are recognised.
inline constexpr char kTemporarySuffix[] = ".tonvaler-part";
