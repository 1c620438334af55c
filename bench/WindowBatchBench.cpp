// How much of the window's thread a batch takes per picture, with a list of 100,000 rows: the
// real window (offscreen), "Start Converting" clicked, every row a small picture written to a
// temporary folder (on /dev/shm when there is one, so the disk does not set the pace). Given
// pictures instead, it converts those and prints how long the batch took.
//
//     QT_QPA_PLATFORM=offscreen build/bench/window_batch_bench [--workers N] [ROWS | PICTURE...]
//         [--output DIR]
#include "QuietDialogs.h"
#include "base/QSettingsStore.h"
#include "imagelist/ImageList.h"
#include "window/Form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <time.h>

#include <cstdio>

namespace {

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int rows = 100000;
    int workers = 0;
    QString output;
    QStringList pictures;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == "--workers" && i + 1 < args.size()) {
            workers = args[++i].toInt();
        } else if (args[i] == "--output" && i + 1 < args.size()) {
            output = args[++i];
        } else if (bool number = false; args[i].toInt(&number), number) {
            rows = args[i].toInt();
        } else {
            pictures.append(args[i]);
        }
    }
    QTemporaryDir scratch(QDir("/dev/shm").exists() ? "/dev/shm/tonvaler-bench-XXXXXX"
                                                    : QDir::tempPath() + "/tonvaler-bench-XXXXXX");
    QDir(scratch.path()).mkdir("out");
    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(qRgb(90, 120, 200));
    const QString source = scratch.filePath("p.png");
    picture.save(source);

    QuietDialogs dialogs;
    QSettingsStore settings(scratch.filePath("Kestrova.ini"));
    Form1 window({dialogs, settings, scratch.path(), [] { return QDir::tempPath(); }, workers});
    window.Text1->setText(output.isEmpty() ? scratch.filePath("out") : output);
    QStringList paths = pictures;
    if (paths.isEmpty()) {
        paths.reserve(rows);
        for (int i = 0; i < rows; ++i) {
            paths.append(source);  // one output name: each pass replaces the last file
        }
    }
    rows = static_cast<int>(paths.size());
    window.imageList().AddImagePaths(paths);
    window.show();
    app.processEvents();

    QElapsedTimer wall;
    wall.start();
    const double cpu0 = threadSeconds();
    window.PushButton2->click();
    const double clickMs = (threadSeconds() - cpu0) * 1000;
    while (!dialogs.done) {
        app.processEvents(QEventLoop::WaitForMoreEvents);
    }
    const double cpuMs = (threadSeconds() - cpu0) * 1000;
    std::printf("rows %d, workers %d, reports %d\n", rows, window.batch().workers(),
                dialogs.reports);
    std::printf(
        "wall %.0f ms, window thread %.0f ms: %.3f ms a picture; the click itself %.2f ms\n",
        double(wall.elapsed()), cpuMs, cpuMs / rows, clickMs);
    return dialogs.reports == 0 ? 0 : 1;
}
