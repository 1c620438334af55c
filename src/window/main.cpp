#include "base/LargePageMalloc.h"
#include "base/QSettingsStore.h"
#include "window/Form1.h"
#include "window/QtDialogs.h"

#include <QApplication>

int main(int argc, char** argv) {
    RestartWithLargePageMalloc(argv);
    QApplication app(argc, argv);
    QtDialogs dialogs;
    QSettingsStore settings;
    Form1 window({dialogs, settings, QCoreApplication::applicationDirPath()});
    dialogs.setOwner(&window);
    window.show();
    return QApplication::exec();
}
