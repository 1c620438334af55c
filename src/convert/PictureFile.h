#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// The whole content of a picture file. Raises RuntimeError, naming the file and the cause, for a
// missing file (53), no access (70), a folder, a device or a pipe (75: never waits on one), an
// empty file, or one over `maxBytes`.
std::vector<std::uint8_t> ReadPictureFile(const QString& path, std::size_t maxBytes = std::size_t(1)
                                                                                      << 30);
