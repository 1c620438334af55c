#pragma once

#include <QString>

#include <functional>

// The folders of the current user as the platform reports them; "" when one cannot be found.
// The desktop and pictures folders are named whether they exist or not.
QString DesktopFolder();
QString PicturesFolder();
QString HomeFolder();

// The default output folder, followed by the separator: the desktop folder when it exists (a
// Linux home often has none), else the pictures folder when it exists, else the home folder.
// Raises RuntimeError 5 when `desktopLookup` answers "".
QString DefaultOutputFolder(const std::function<QString()>& desktopLookup = DesktopFolder,
                            const std::function<QString()>& picturesLookup = PicturesFolder,
                            const std::function<QString()>& homeLookup = HomeFolder);
