#include "support/WindowFixture.h"

#include <QDir>

WindowFixture::WindowFixture() {
    QDir().mkpath(programFolder);
    QDir().mkpath(desktop);
}

Form1& WindowFixture::open(int workers) {
    window = std::make_unique<Form1>(
        WindowServices{dialogs, settings, programFolder, desktopLookup, workers});
    return *window;
}
