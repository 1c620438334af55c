// How many pictures a second the path that takes outcomes up in order and gives their files their
// names can carry by itself: many tiny pictures, on more workers than there are cores, so that
// the conversions cost next to nothing and any serial step shows. The thread that takes up is
// timed by its own CPU clock: its pictures a second at full load are the most that any number
// of cores could bring it. Measured twice: the engine's ordered batch with a client that only
// counts (its files named in their turns, then as soon as they are durable), and the whole
// command line (its plan, its report and its lines included). Named as soon as durable, the files
// take their names on the flushing thread: its CPU time is printed as well.
//
//     takeup_bench [--pictures N] [-j WORKERS] [--folder DIR]
#include "base/QSettingsStore.h"
#include "cli/CliOptions.h"
#include "cli/CliRun.h"
#include "engine/OrderedBatch.h"
#include "engine/output/GroupFlusher.h"
#include "engine/output/JpegWriter.h"
#include "filter/PixelImage.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

double threadSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The CPU time of the running flushing threads, from the kernel's per-thread accounting.
double flushingSeconds() {
    double seconds = 0;
    for (QDirIterator task("/proc/self/task", QDir::Dirs | QDir::NoDotAndDotDot); task.hasNext();) {
        const QString path = task.next();
        QFile comm(path + "/comm");
        QFile schedstat(path + "/schedstat");  // first field: nanoseconds on a CPU
        if (comm.open(QIODevice::ReadOnly) &&
            comm.readAll().trimmed() == GroupFlusher::kFlushingThreadName &&
            schedstat.open(QIODevice::ReadOnly)) {
            seconds += schedstat.readAll().split(' ').value(0).toDouble() / 1e9;
        }
    }
    return seconds;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class Counting : public OrderedBatch::Client {
  public:
    Counting(QStringList sources, QString output, bool namesEarly)
        : namesEarly_(namesEarly),
          sources_(std::move(sources)),
          settings_(std::make_shared<CurrentSettings>(ConversionSettings{{}, 85, output})) {}

    PictureJob jobFor(int item) override {
        PictureJob job;
        job.sourcePath = sources_[item];
        job.settings = settings_;
        return job;
    }
    void takeUp(int /*item*/, PictureOutcome& outcome) override {
        failed += outcome.failed() ? 1 : 0;
    }
    void finished() override { QCoreApplication::quit(); }
    bool namesAsSoonAsDurable() const override { return namesEarly_; }

    int failed = 0;

  private:
    bool namesEarly_;
    QStringList sources_;
    std::shared_ptr<CurrentSettings> settings_;
};

void report(const char* what, int pictures, double wall, double taker, double flusher = 0) {
    std::printf(
        "%-34s %6d pictures  wall %7.1f ms  %8.0f pictures/s   taking-up thread %6.1f "
        "us a picture: at most %8.0f pictures/s",
        what, pictures, wall * 1e3, pictures / wall, taker * 1e6 / pictures, pictures / taker);
    if (flusher > 0) {
        std::printf("   flushing thread %6.1f us a picture", flusher * 1e6 / pictures);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int pictures = 10000;
    int workers = 16;
    QString where = QDir::tempPath();
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--pictures") {
            pictures = args[i + 1].toInt();
        } else if (args[i] == "-j") {
            workers = args[i + 1].toInt();
        } else if (args[i] == "--folder") {
            where = args[i + 1];
        }
    }
    QTemporaryDir dir(where + "/takeup-XXXXXX");
    QDir(dir.path()).mkdir("in");
    GreyImage tiny(8, 8);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            tiny.data()[y * tiny.stride() + x] = static_cast<std::uint8_t>(x * 30 + y);
        }
    }
    const EncodedBytes jpeg = EncodeGreyJpeg(tiny, 90);
    QStringList sources;
    for (int i = 0; i < pictures; ++i) {
        sources.append(dir.filePath(QStringLiteral("in/p%1.jpg").arg(i, 6, 10, QLatin1Char('0'))));
        QFile file(sources.back());
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char*>(jpeg.data()), qint64(jpeg.size())) !=
                qint64(jpeg.size())) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(sources.back()));
            return 1;
        }
    }

    // 1. The ordered batch alone: files named in their turns (the window's way), then as soon as
    // they are durable (the command line's).
    for (const bool namesEarly : {false, true}) {
        const QString folder = namesEarly ? "early" : "inturn";
        QDir(dir.path()).mkdir(folder);
        Counting client(sources, dir.filePath(folder), namesEarly);
        OrderedBatch batch(client, workers);
        const double taker = threadSeconds();
        const double wall = wallSeconds();
        batch.start(pictures);
        app.exec();
        report(namesEarly ? "ordered batch, named when durable" : "ordered batch, named in turn",
               pictures, wallSeconds() - wall, threadSeconds() - taker, flushingSeconds());
        if (client.failed != 0) {
            std::fprintf(stderr, "%d pictures failed\n", client.failed);
            return 1;
        }
    }

    // 2. The whole command line on the same pictures.
    QDir(dir.path()).mkdir("cli");
    QSettingsStore settings{dir.filePath("settings.ini")};
    const CliParse parse = ParseCliOptions(
        {"-j", QString::number(workers), "-o", dir.filePath("cli"), dir.filePath("in")}, settings,
        workers);
    if (!parse.options) {
        std::fprintf(stderr, "%s\n", qPrintable(parse.message));
        return 1;
    }
    std::FILE* quiet = std::fopen("/dev/null", "w");
    const double taker = threadSeconds();
    const double wall = wallSeconds();
    const int status = RunCli(*parse.options, dir.path(), quiet, stderr, false);
    report("tonvaler-cli, plan and report too", pictures, wallSeconds() - wall,
           threadSeconds() - taker);
    std::fclose(quiet);
    return status;
}
