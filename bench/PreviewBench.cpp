// From a slider move to the preview repainted with the new result: the real window (offscreen)
// with its preview open on a 14.7-megapixel photograph, "Black Filter" moved 40 times, each time
// timed until the preview has filtered and painted the picture, fitted and at 100 %.
//
//     QT_QPA_PLATFORM=offscreen build/bench/preview_bench [PICTURE]
//
// The picture is honeywave.jpg from the folder named by TONVALER_BENCH_DIR, by default the
// shared benchmark pictures beside the project.
#include "QuietDialogs.h"
#include "base/QSettingsStore.h"
#include "imagelist/ImageList.h"
#include "window/Form1.h"
#include "window/PreviewWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSlider>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Milliseconds from each move of the slider to the repainted preview.
std::vector<double> moveSlider(Form1& window, PreviewWindow& preview, int moves) {
    std::vector<double> times;
    int painted = 0;
    QObject::connect(&preview, &PreviewWindow::rendered, &preview, [&] { ++painted; });
    for (int i = 0; i < moves; ++i) {
        const int before = painted;
        QElapsedTimer clock;
        clock.start();
        window.Slider2->setValue(i % 2 ? 60 : 40);  // 60 at the start
        while (painted == before) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    return times;
}

void print(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%-44s median %6.1f ms   min %6.1f   max %6.1f   (%zu moves)\n", what,
                times[times.size() / 2], times.front(), times.back(), times.size());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const char* folder = std::getenv("TONVALER_BENCH_DIR");
    const QString picture =
        argc > 1 ? QString::fromLocal8Bit(argv[1])
                 : QString::fromUtf8(folder != nullptr ? folder : TONVALER_DEFAULT_BENCH_DIR) +
                       QStringLiteral("/honeywave.jpg");
    QTemporaryDir scratch;
    QuietDialogs dialogs;
    QSettingsStore settings(scratch.filePath("Kestrova.ini"));
    Form1 window({dialogs, settings, scratch.path(), [] { return QDir::tempPath(); }, 0});
    window.imageList().AddImagePath(picture);
    window.imageList().SelectRow(1);
    window.show();
    QElapsedTimer clock;
    clock.start();
    window.openPreview();
    PreviewWindow& preview = *window.preview();
    while (preview.result() == nullptr && preview.message().isEmpty() == false &&
           !preview.message().startsWith(QStringLiteral("Cannot"))) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    if (preview.result() == nullptr) {
        std::fprintf(stderr, "preview_bench: %s\n", qPrintable(preview.message()));
        return 1;
    }
    std::printf("%s: %d x %d, decoded off the window's thread in %lld ms\n", qPrintable(picture),
                preview.result()->width(), preview.result()->height(),
                static_cast<long long>(clock.elapsed()));
    print("slider move to repainted preview, fitted", moveSlider(window, preview, 40));
    preview.setFitsWindow(false);
    print("slider move to repainted preview, at 100 %", moveSlider(window, preview, 40));
    return 0;
}
