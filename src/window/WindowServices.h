#pragma once

#include "base/DefaultOutputFolder.h"

#include <QString>

#include <functional>

class Dialogs;
class SettingsStore;

// What the main window needs from outside; tests pass fakes. The window does not own the
// dialogs or the store: both must outlive it.
struct WindowServices {
    Dialogs& dialogs;
    SettingsStore& settings;
    // The folder that holds the executable, without a trailing separator; optional files such as
    // the hand cursor and the skin are looked up in it.
    QString programFolder;
    // The desktop folder, "" when it cannot be found.
    std::function<QString()> desktopFolder = DesktopFolder;
    // How many pictures are converted at once; 0 for as many as the machine has cores.
    int workers = 0;
};
