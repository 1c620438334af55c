#include "base/RuntimeError.h"
#include "engine/OrderedBatch.h"
#include "support/CameraPictures.h"
#include "support/HeifGrids.h"
#include "support/PathsBatchClient.h"
#include "support/TestPictures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

namespace {

// Runs an event loop for `milliseconds`, as a message box shown from a callback does; -1: none.
void stayInALoop(int milliseconds) {
    if (milliseconds >= 0) {
        QEventLoop loop;
        QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

// A side x side JPEG of noise written at `path`; answers the path.
QString writePicture(const QString& path, int side) {
    WriteBytes(path, JpegBytesOf(MakePicture(side, side, [](int x, int y) {
                   return static_cast<quint32>(x * 2654435761u ^ y * 40503u);
               })));
    return path;
}

// Items that finish out of order and fail at each stage a batch can see are taken up in item
// order, each reached before it is taken up, and the later of two same-named outputs wins;
// also when every callback runs an event loop in which the other items arrive, and when the
// client finds an outcome no longer current and has it made again.
class OrderedBatchTest : public ::testing::TestWithParam<int> {};

TEST_P(OrderedBatchTest, TakesUpInItemOrderWhateverOrderTheyFinishIn) {
    const int loopMilliseconds = GetParam();
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("a");
    QDir(dir.path()).mkpath("b");
    QDir(dir.path()).mkpath("out/blocked-grayscale.jpg/inside");  // no file takes that name
    const auto picture = [&](const QString& name, int side) {
        return writePicture(dir.filePath(name), side);
    };
    const struct {
        QString source;  // "" when the client fails to make the job
        PictureStage stage;
    } items[] = {
        {picture("a/same.jpg", 1600), PictureStage::None},  // big: finishes after the next ones
        {dir.filePath("missing.jpg"), PictureStage::Load},
        {QString(), PictureStage::Start},
        {picture("b/same.jpg", 40), PictureStage::None},
        {picture("blocked.jpg", 40), PictureStage::Write},
        {picture("last.jpg", 40), PictureStage::None},
    };
    const int count = static_cast<int>(std::size(items));

    struct Client : OrderedBatch::Client {
        const decltype(items)& list;
        int loopMilliseconds;
        std::shared_ptr<CurrentSettings> settings;
        std::vector<std::string> calls;
        std::vector<PictureStage> stages;
        std::vector<int> jobs = std::vector<int>(6);  // how often each item's job was made
        bool done = false;
        Client(const decltype(items)& l, const QString& out, int loop)
            : list(l),
              loopMilliseconds(loop),
              settings(std::make_shared<CurrentSettings>(ConversionSettings{{}, 85, out})) {}
        PictureJob jobFor(int item) override {
            ++jobs.at(item);
            if (list[item].source.isEmpty()) {
                throw RuntimeError(ErrorNumber::InvalidCall, "no job");
            }
            PictureJob job;
            job.sourcePath = list[item].source;
            job.settings = settings;
            return job;
        }
        void reached(int item) override {
            calls.push_back("reached " + std::to_string(item));
            stayInALoop(loopMilliseconds);
        }
        // The second "same.jpg" is found stale once: made again, it still wins.
        bool current(int item, const PictureOutcome&) override {
            stayInALoop(loopMilliseconds);
            return item != 3 || jobs.at(3) > 1;
        }
        void takeUp(int item, PictureOutcome& outcome) override {
            calls.push_back("taken " + std::to_string(item));
            stages.push_back(outcome.failedStage);
            stayInALoop(loopMilliseconds);
        }
        void finished() override { done = true; }
    } client(items, dir.filePath("out"), loopMilliseconds);

    OrderedBatch batch(client, 2);
    batch.start(count);
    QElapsedTimer clock;
    clock.start();
    while (!client.done && clock.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    ASSERT_TRUE(client.done);
    std::vector<std::string> expected;
    for (int i = 0; i < count; ++i) {
        expected.push_back("reached " + std::to_string(i));
        expected.push_back("taken " + std::to_string(i));
        EXPECT_EQ(client.stages.at(i), items[i].stage) << i;
    }
    EXPECT_EQ(client.calls, expected);
    EXPECT_EQ(client.jobs, std::vector<int>({1, 1, 1, 2, 1, 1}));
    EXPECT_EQ(batch.madeAgain(), 1);
    EXPECT_EQ(QImageReader(dir.filePath("out/same-grayscale.jpg")).size(), QSize(40, 40));
    EXPECT_EQ(QDir(dir.filePath("out")).entryList(QDir::Files | QDir::Hidden),
              QStringList({"last-grayscale.jpg", "same-grayscale.jpg"}));
    EXPECT_FALSE(batch.running());
}

INSTANTIATE_TEST_SUITE_P(, OrderedBatchTest, ::testing::Values(-1, 0, 30), [](const auto& info) {
    return info.param < 0 ? std::string("no_loop") : "loop_" + std::to_string(info.param) + "ms";
});

// A client whose outputs all differ has its files named as soon as they are durable: each is in
// place by its turn, a name that cannot be taken fails at Write in its turn, and the order holds.
TEST(OrderedBatch, FilesNamedAsSoonAsDurableAreInPlaceByTheirTurns) {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("out/blocked-grayscale.jpg/inside");
    const auto picture = [&](const QString& name, int side) {
        return writePicture(dir.filePath(name), side);
    };
    const struct {
        QString source;
        PictureStage stage;
    } items[] = {{picture("big.jpg", 1200), PictureStage::None},
                 {dir.filePath("missing.jpg"), PictureStage::Load},
                 {picture("blocked.jpg", 40), PictureStage::Write},
                 {picture("small.jpg", 40), PictureStage::None}};
    struct Client : OrderedBatch::Client {
        const decltype(items)& list;
        std::shared_ptr<CurrentSettings> settings;
        QString out;
        std::vector<std::string> taken;
        bool done = false;
        Client(const decltype(items)& l, const QString& o)
            : list(l),
              settings(std::make_shared<CurrentSettings>(ConversionSettings{{}, 85, o})),
              out(o) {}
        PictureJob jobFor(int item) override {
            PictureJob job;
            job.sourcePath = list[item].source;
            job.settings = settings;
            return job;
        }
        bool namesAsSoonAsDurable() const override { return true; }
        void takeUp(int item, PictureOutcome& outcome) override {
            const bool there = QFileInfo(outcome.outputPath).isFile();
            taken.push_back(std::to_string(item) + (outcome.failed() ? " failed" : " done") +
                            (there ? " there" : ""));
            EXPECT_EQ(outcome.failedStage, list[item].stage) << item;
        }
        void finished() override { done = true; }
    } client(items, dir.filePath("out"));
    OrderedBatch batch(client, 2);
    batch.start(static_cast<int>(std::size(items)));
    QElapsedTimer clock;
    clock.start();
    while (!client.done && clock.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    ASSERT_TRUE(client.done);
    EXPECT_EQ(client.taken,
              std::vector<std::string>({"0 done there", "1 failed", "2 failed", "3 done there"}));
    EXPECT_EQ(QDir(dir.filePath("out")).entryList(QDir::Files | QDir::Hidden),
              QStringList({"big-grayscale.jpg", "small-grayscale.jpg"}));
}

// Each pass is made from its file as the file is at its turn: a row whose file an earlier row's
// output replaces (the output folder is the sources'), and one whose file another program saves
// over while an earlier row's outcome is taken up (a report box open), are made from the new
// files; nothing unchanged is made twice. With one worker and two, the files ahead already read.
TEST(OrderedBatch, APassIsMadeFromItsFileAsItIsAtItsTurn) {
    for (const int workers : {1, 2}) {
        SCOPED_TRACE(workers);
        QTemporaryDir dir;
        const QString items[] = {writePicture(dir.filePath("a.jpg"), 40),
                                 writePicture(dir.filePath("a-grayscale.jpg"), 20),
                                 writePicture(dir.filePath("c.jpg"), 30),
                                 writePicture(dir.filePath("d.jpg"), 30)};
        struct Client : OrderedBatch::Client {
            const QString (&list)[4];
            std::shared_ptr<CurrentSettings> settings;
            std::vector<int> jobs = std::vector<int>(4);
            bool done = false;
            Client(const QString (&l)[4], const QString& out)
                : list(l),
                  settings(std::make_shared<CurrentSettings>(ConversionSettings{{}, 85, out})) {}
            PictureJob jobFor(int item) override {
                ++jobs.at(item);
                PictureJob job;
                job.sourcePath = list[item];
                job.settings = settings;
                return job;
            }
            void takeUp(int item, PictureOutcome& outcome) override {
                EXPECT_FALSE(outcome.failed()) << outcome.failure.description();
                if (item == 0) {
                    stayInALoop(300);  // the others are read meanwhile
                    writePicture(list[2], 50);
                }
            }
            void finished() override { done = true; }
        } client(items, dir.path());
        OrderedBatch batch(client, workers);
        batch.start(4);
        QElapsedTimer clock;
        clock.start();
        while (!client.done && clock.elapsed() < 30000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        ASSERT_TRUE(client.done);
        EXPECT_EQ(QImageReader(dir.filePath("a-grayscale-grayscale.jpg")).size(), QSize(40, 40));
        EXPECT_EQ(QImageReader(dir.filePath("c-grayscale.jpg")).size(), QSize(50, 50));
        // c.jpg is made again when it was read before it was saved over (as here, but on a slow
        // machine it may be read after).
        EXPECT_EQ(client.jobs[0], 1);
        EXPECT_EQ(client.jobs[1], 2);
        EXPECT_GE(client.jobs[2], 1);
        EXPECT_LE(client.jobs[2], 2);
        EXPECT_EQ(client.jobs[3], 1);
    }
}

// The threads of the process now.
QStringList threadsNow() {
    return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

// Those of the threads not in `before` that run or wait for a core (state R), but the one that
// waits on the disk: the batch's, not the test's, an emulator's or a library's begun earlier.
int busyThreads(const QStringList& before) {
    int busy = 0;
    for (const QString& task : threadsNow()) {
        QFile stat("/proc/self/task/" + task + "/stat");
        if (!before.contains(task) && stat.open(QIODevice::ReadOnly)) {
            const QByteArray line = stat.readAll();
            const qsizetype name = line.lastIndexOf(')');
            busy += name > 0 && line.mid(name + 2, 1) == "R" &&
                    !line.contains(GroupFlusher::kFlushingThreadName);
        }
    }
    return busy;
}

// Decoders that would start threads of their own (libheif's tiles, libde265's, libjxl's, LibRaw's
// OpenMP) take them from the workers' share: a batch of HEIC grids, JPEG XL and DNG with two
// workers keeps two threads busy at most, however many cores there are (its last picture may
// have both).
TEST(OrderedBatch, DecodersStartNoThreadsBeyondTheWorkers) {
    QTemporaryDir dir;
    const BgrxImage picture = MakePicture(1024, 768, [](int x, int y) {
        return static_cast<quint32>(x * 2654435761u ^ y * 40503u) & 0xFFFFFF;
    });
    HeifGrid grid;
    grid.columns = 4;
    grid.rows = 3;
    grid.tileWidth = 256;
    grid.tileHeight = 256;
    QStringList sources;
    const QByteArray heic = HeifGridBytesOf(picture, grid);
    const QByteArray jxl = JxlBytesOf(picture, false);
    const QByteArray dng = DngBytesOf(picture, 12, 1);
    for (int i = 0; i < 6; ++i) {
        for (const auto& [kind, bytes] : {std::pair{"heic", &heic}, {"jxl", &jxl}, {"dng", &dng}}) {
            sources.append(dir.filePath(QString("%1.%2").arg(i).arg(kind)));
            WriteBytes(sources.back(), *bytes);
        }
    }
    PathsBatchClient client(sources, dir.path());
    OrderedBatch batch(client, 2);
    // A worker ending its picture as the other begins the last may overlap for a moment.
    int most = 0;
    int samples = 0;
    int over = 0;
    const QStringList before = threadsNow();
    batch.start(int(sources.size()));
    QElapsedTimer clock;
    clock.start();
    while (!client.done && clock.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        const int busy = busyThreads(before);
        most = std::max(most, busy);
        ++samples;
        over += busy > 2;
    }
    ASSERT_TRUE(client.done);
    EXPECT_EQ(client.failed, 0);
    EXPECT_LE(most, 3) << most << " threads busy at once";
    EXPECT_LE(over * 50, samples) << over << " of " << samples << " looks saw more than two busy";
}

}  // namespace
