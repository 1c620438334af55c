#include "base/LargePageMalloc.h"
#include "base/QSettingsStore.h"
#include "window/CloseThroughReports.h"
#include "window/Form1.h"
#include "window/QtDialogs.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

int main(int argc, char** argv) {
    RestartWithLargePageMalloc(argv);
    QApplication app(argc, argv);
    QtDialogs dialogs;
    QSettingsStore settings;
    Form1 window({dialogs, settings, QCoreApplication::applicationDirPath()});
    dialogs.setOwner(&window);
    window.show();
    CloseThroughReports closeThroughReports(window);
    app.installNativeEventFilter(&closeThroughReports);
    // Files and folders named on the command line (a file manager's "Open With") join the list
    // as a drop would, once the window is up.
    QStringList paths;
    for (const QString& argument : QCoreApplication::arguments().mid(1)) {
        paths << QDir::current().absoluteFilePath(argument);
    }
    if (!paths.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, paths] { window.addFiles(paths); });
    }
    return QApplication::exec();
}
