#include "base/LargePageMalloc.h"
#include "base/PathBytes.h"
#include "base/QSettingsStore.h"
#include "window/CloseThroughReports.h"
#include "window/Form1.h"
#include "window/OneWindow.h"
#include "window/QtDialogs.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

int main(int argc, char** argv) {
    RestartWithLargePageMalloc(argv);
    QApplication app(argc, argv);
    // Files and folders named on the command line (a file manager's "Open With") join the list
    // as a drop would, once the window is up; the window of this user on this display, if one
    // runs, takes them instead.
    // From the bytes (QApplication took its own options out of them): arguments() would turn a
    // name that is not UTF-8 into another.
    QStringList paths;
    for (int i = 1; i < argc; ++i) {
        paths << QDir::current().absoluteFilePath(PathText(argv[i]));
    }
    OneWindow oneWindow(OneWindow::SocketPathFor(QGuiApplication::platformName()));
    if (oneWindow.start(paths) == OneWindow::Start::HandedOver) {
        return 0;
    }
    QtDialogs dialogs;
    QSettingsStore settings;
    Form1 window({dialogs, settings, QCoreApplication::applicationDirPath()});
    dialogs.setOwner(&window);
    window.show();
    CloseThroughReports closeThroughReports(window);
    app.installNativeEventFilter(&closeThroughReports);
    if (!paths.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, paths] { window.addFiles(paths); });
    }
    // Files handed over after the window was closed would be lost with it.
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &oneWindow,
                     &OneWindow::stopListening);
    oneWindow.setReceiver(
        [&window](const QStringList& handed) { window.takeFilesFromAnotherStart(handed); });
    return QApplication::exec();
}
