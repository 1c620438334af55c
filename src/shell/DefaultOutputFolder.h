#pragma once

#include <QString>

#include <functional>

// The desktop folder of the current user as the platform reports it; "" when it cannot be found.
QString DesktopFolder();

// The default output folder: the desktop folder followed by the separator. Raises RuntimeError 5
// when `desktopLookup` answers "".
QString DefaultOutputFolder(const std::function<QString()>& desktopLookup = DesktopFolder);
