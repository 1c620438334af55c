// "Add All Image File(s) In Folder" on a tree of 100,000 files in 1,000 folders, against `find`
// listing the same tree: the median of several runs of each, and their ratio. With `deep`, the
// tree is a chain of 1,000 nested folders of one file each.
//
//     QT_QPA_PLATFORM=offscreen build/bench/add_folder_bench [RUNS] [deep]
#include "base/Dialogs.h"
#include "base/QSettingsStore.h"
#include "imagelist/ImageList.h"
#include "window/Form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Answers "*" and the tree, and counts how often the window got to paint.
struct ScriptedDialogs : Dialogs {
    QString tree;
    Answer messageBox(const QString& text, Style, const QString&, const QString&) override {
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(text));
        return Answer::Ok;
    }
    QString openFiles(const OpenFilesRequest&) override { return {}; }
    QString inputBox(const QString&, const QString&, const QString&) override { return "*"; }
    QString browseForFolder(const QString&, const QString&) override { return tree; }
    void openUrl(const QUrl&) override {}
    int drawOneToHundred() override { return 1; }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    QTemporaryDir scratch;
    // TONVALER_BENCH_TREE names a tree made before, to keep between runs.
    const QString given = qEnvironmentVariable("TONVALER_BENCH_TREE");
    const QString tree = given.isEmpty() ? scratch.filePath("tree") : given;
    const bool make = !QDir(tree).exists();
    const bool deep = argc > 2 && std::string(argv[2]) == "deep";
    QString chain = tree;
    for (int level = 0; level < 1000 && make && deep; ++level) {
        chain += "/d";
        QDir().mkpath(chain);
        QFile(chain + "/picture.jpg").open(QIODevice::WriteOnly);
    }
    // 10 folders of 99 subfolders each, and the 10 themselves: 1,000 folders of 100 files.
    for (int a = 0; a < 10 && make && !deep; ++a) {
        for (int b = 0; b < 100; ++b) {
            const QString folder = b == 0 ? QString("%1/f%2").arg(tree).arg(a)
                                          : QString("%1/f%2/s%3").arg(tree).arg(a).arg(b);
            QDir().mkpath(folder);
            for (int i = 0; i < 100; ++i) {
                QFile(QString("%1/picture%2.jpg").arg(folder).arg(i)).open(QIODevice::WriteOnly);
            }
        }
    }

    ScriptedDialogs dialogs;
    dialogs.tree = tree;
    QSettingsStore settings(scratch.filePath("Kestrova.ini"));
    Form1 window({dialogs, settings, scratch.path(), [] { return QDir::tempPath(); }, 1});
    window.show();
    app.processEvents();
    // One run of each a round, so that a change in the machine's load falls on both alike; the
    // first round warms the caches.
    std::vector<double> findMs;
    std::vector<double> addMs;
    int rows = 0;
    for (int r = 0; r <= runs; ++r) {
        QElapsedTimer t;
        t.start();
        QProcess find;
        find.setStandardOutputFile(QProcess::nullDevice());
        find.start("find", {tree, "-type", "f"});
        find.waitForFinished(-1);
        const double findRun = t.nsecsElapsed() / 1e6;

        window.imageList().ClearImageList();
        app.processEvents();
        t.restart();
        window.PushButton3->click();  // returns when the walk is done
        const double addRun = t.nsecsElapsed() / 1e6;
        rows = window.imageList().RowCount();
        if (r > 0) {
            findMs.push_back(findRun);
            addMs.push_back(addRun);
        }
    }
    const double f = median(findMs);
    const double a = median(addMs);
    std::printf("tree: %s; rows added: %d\n",
                deep ? "1,000 nested folders of 1 file" : "100,000 files in 1,000 folders", rows);
    std::printf("find -type f: %.1f ms   Add All Image File(s) In Folder: %.1f ms   ratio %.2f\n",
                f, a, a / f);
    return rows == (deep ? 1000 : 100000) ? 0 : 1;
}
