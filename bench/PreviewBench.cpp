// The preview as a user meets it, in the real window (offscreen) on a 14.7-megapixel photograph,
// baseline and progressive: from Space to the first paint (a quick look) and to the exact result,
// then "Black Filter" moved 30 times, each time until the exact result is painted, fitted and at
// 100 %. Each without a batch, then with tonvaler-cli converting copies of the picture beside it.
//
//     QT_QPA_PLATFORM=offscreen build/bench/preview_bench [PICTURE]
//
// The picture is honeywave.jpg from the folder named by TONVALER_BENCH_DIR, by default the
// shared benchmark pictures beside the project.
#include "QuietDialogs.h"
#include "base/QSettingsStore.h"
#include "imagelist/ImageList.h"
#include "window/Form1.h"
#include "window/PreviewCanvas.h"
#include "window/PreviewWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSlider>
#include <QTemporaryDir>

#include <turbojpeg.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void print(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("  %-40s median %6.1f ms   min %6.1f   max %6.1f   (%zu)\n", what,
                times[times.size() / 2], times.front(), times.back(), times.size());
}

void waitUntil(const std::function<bool()>& done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
}

// Milliseconds from each move of the slider until what is on screen is exact: the whole when
// fitted, the part in view at 100 %.
std::vector<double> moveSlider(Form1& window, PreviewWindow& preview, int moves) {
    std::vector<double> times;
    int painted = 0;
    const auto connection =
        QObject::connect(&preview, &PreviewWindow::shownExact, &preview, [&] { ++painted; });
    for (int i = 0; i < moves; ++i) {
        const int before = painted;
        QElapsedTimer clock;
        clock.start();
        window.Slider2->setValue(i % 2 ? 60 : 40);  // 60 at the start
        waitUntil([&] { return painted != before; });
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    QObject::disconnect(connection);
    return times;
}

// The picture, progressive (a lossless transform of the same coefficients).
QByteArray progressiveCopy(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray jpeg = file.readAll();
    tjhandle transformer = tjInitTransform();
    tjtransform transform{};
    transform.options = TJXOPT_PROGRESSIVE;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjTransform(transformer, reinterpret_cast<const unsigned char*>(jpeg.constData()),
                static_cast<unsigned long>(jpeg.size()), 1, &out, &size, &transform, 0);
    QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(size));
    tjFree(out);
    tjDestroy(transformer);
    return bytes;
}

void measure(const QString& picture, const char* name, const QString& scratch, bool batch) {
    std::printf("%s, %s:\n", name, batch ? "a batch running beside it" : "no batch");
    const int rounds = 5;
    std::vector<double> first, exact;
    QSettingsStore settings(scratch + QStringLiteral("/Kestrova.ini"));
    QuietDialogs dialogs;
    Form1 window({dialogs, settings, scratch, [] { return QDir::tempPath(); }, 0});
    window.imageList().AddImagePath(picture);
    window.imageList().SelectRow(1);
    window.show();
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        window.openPreview();
        PreviewWindow& preview = *window.preview();
        waitUntil([&] { return !preview.canvas().pictureSize().isEmpty(); });
        preview.canvas().viewport()->repaint();
        first.push_back(clock.nsecsElapsed() / 1e6);
        waitUntil([&] { return preview.result() != nullptr || !preview.message().isEmpty(); });
        exact.push_back(clock.nsecsElapsed() / 1e6);
        if (preview.result() == nullptr) {
            std::fprintf(stderr, "preview_bench: %s\n", qPrintable(preview.message()));
            std::exit(1);
        }
        if (round + 1 < rounds) {
            preview.close();
        }
    }
    PreviewWindow& preview = *window.preview();
    print("Space to first paint", first);
    print("Space to the exact result", exact);
    preview.setFitsWindow(true);
    print("slider step to exact repaint, fitted", moveSlider(window, preview, 30));
    preview.setFitsWindow(false);
    print("slider step to exact repaint, at 100 %", moveSlider(window, preview, 30));
    preview.close();
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
    const QString progressive = scratch.filePath("progressive.jpg");
    QFile out(progressive);
    out.open(QIODevice::WriteOnly);
    out.write(progressiveCopy(picture));
    out.close();
    // The batch beside: tonvaler-cli converting eight copies of the picture, again and again.
    QDir(scratch.path()).mkpath("batch/in");
    QDir(scratch.path()).mkpath("batch/out");
    for (int k = 0; k < 8; ++k) {
        QFile::copy(picture, scratch.filePath(QStringLiteral("batch/in/%1.jpg").arg(k)));
    }
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/../tonvaler-cli");
    for (const bool batch : {false, true}) {
        QProcess converting;
        if (batch) {
            converting.setProgram(QStringLiteral("/bin/sh"));
            converting.setArguments(
                {QStringLiteral("-c"),
                 QStringLiteral("while :; do \"%1\" -o \"%2\" \"%3\" "
                                ">/dev/null 2>&1; done")
                     .arg(cli, scratch.filePath("batch/out"), scratch.filePath("batch/in"))});
            converting.setChildProcessModifier([] { ::setpgid(0, 0); });
            converting.start();
            converting.waitForStarted();
        }
        for (const auto& [path, name] :
             {std::pair{picture, "baseline"}, std::pair{progressive, "progressive"}}) {
            QTemporaryDir settings;
            measure(path, name, settings.path(), batch);
        }
        if (batch) {
            ::kill(-static_cast<pid_t>(converting.processId()), SIGKILL);  // the loop and its run
            converting.waitForFinished();
        }
    }
    return 0;
}
