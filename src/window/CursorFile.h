#pragma once

#include <QCursor>
#include <QString>

// Loads a cursor file (.cur, or an .ico) with its hot spot. Raises RuntimeError when the file
// cannot be read (with the system's cause and the path) or holds no picture.
QCursor LoadCursorFile(const QString& path);
