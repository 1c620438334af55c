#pragma once

#include "base/QSettingsStore.h"
#include "support/FakeDialogs.h"
#include "window/Form1.h"

#include <QTemporaryDir>

#include <memory>

// A main window over fake dialogs, a settings file and a program folder of its own, all in a
// temporary folder. Build it after arranging the store and the program folder.
struct WindowFixture {
    QTemporaryDir dir;
    QString programFolder = dir.filePath("program");
    QString desktop = dir.filePath("Desktop");
    FakeDialogs dialogs;
    QSettingsStore settings{dir.filePath("Kestrova.ini")};
    std::function<QString()> desktopLookup = [this] { return desktop; };
    std::unique_ptr<Form1> window;

    WindowFixture();
    Form1& open(int workers = 0);
};
