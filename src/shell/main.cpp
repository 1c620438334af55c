#include "shell/Form1.h"
#include "shell/QSettingsStore.h"
#include "shell/QtDialogs.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QtDialogs dialogs;
    QSettingsStore settings;
    Form1 window({dialogs, settings, QCoreApplication::applicationDirPath()});
    dialogs.setOwner(&window);
    window.show();
    return QApplication::exec();
}
