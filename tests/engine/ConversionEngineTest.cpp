#include "engine/ConversionEngine.h"
#include "filter/PixelMemory.h"
#include "support/TestPictures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <turbojpeg.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace {

// By the work their headers announce, not by their files' sizes: a progressive file of few bytes
// decodes slower than a baseline one of many.
TEST(ConversionEngine, CostlierPicturesWaitingStartFirst) {
    QTemporaryDir dir;
    const auto picture = [&](const char* name, int side) {
        const QString path = dir.filePath(name);
        WriteBytes(path, JpegBytesOf(MakePicture(side, side,
                                                 [](int x, int y) {
                                                     return static_cast<quint32>(x * 2654435761u ^
                                                                                 y * 40503u);
                                                 }),
                                     90));
        return path;
    };
    const QString progressive = dir.filePath("progressive.jpg");
    WriteBytes(progressive, ManyScanJpegBytes(700, 700, 10));
    ASSERT_LT(QFileInfo(progressive).size(), QFileInfo(picture("middle.jpg", 150)).size());
    const QString files[] = {picture("first.jpg", 1500), picture("middle.jpg", 150),
                             picture("big.jpg", 400), progressive};
    std::vector<int> finished;
    ConversionEngine engine([&](PictureOutcome&& o) { finished.push_back(o.item); }, 1);
    const auto settings = std::make_shared<CurrentSettings>(ConversionSettings{{}, 85, dir.path()});
    for (int pass = 0; pass < 4; ++pass) {
        PictureJob job;
        job.item = pass;
        job.sourcePath = files[pass];
        job.settings = settings;
        engine.submit(job);
    }
    QElapsedTimer clock;
    clock.start();
    while (finished.size() < 4 && clock.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    EXPECT_EQ(finished, (std::vector<int>{0, 3, 2, 1}));
}

// Pictures of equal cost start in their items' order, however the workers come free: a batch
// takes its outcomes up in that order, and a picture started last held up every turn (the thread
// pool queued a job given while a worker waited idle behind all given after it).
TEST(ConversionEngine, EqualCostsStartInTheItemsOrder) {
    QTemporaryDir dir;
    const QString path = dir.filePath("p.jpg");
    WriteBytes(path, JpegBytesOf(MakePicture(300, 200, [](int x, int y) {
                   return static_cast<quint32>(x * 2654435761u ^ y * 40503u);
               })));
    const auto settings = std::make_shared<CurrentSettings>(ConversionSettings{{}, 85, dir.path()});
    constexpr int kItems = 40;
    for (int round = 0; round < 5; ++round) {
        std::vector<int> finished;
        ConversionEngine engine([&](PictureOutcome&& o) { finished.push_back(o.item); }, 2);
        for (int item = 0; item < kItems; ++item) {
            PictureJob job;
            job.item = item;
            job.sourcePath = path;
            job.settings = settings;
            engine.submit(job);
            if (item % 8 == 0) {
                QThread::msleep(2);  // the workers come free now and then, as a window's do
            }
        }
        QElapsedTimer clock;
        clock.start();
        while (finished.size() < kItems && clock.elapsed() < 30000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        ASSERT_EQ(finished.size(), std::size_t(kItems));
        // The files flushed together arrive together, so a few given later may arrive first; a
        // picture begun last arrives after nearly all.
        for (int position = 0; position < kItems; ++position) {
            EXPECT_GE(finished[std::size_t(position)], position - 10)
                << "round " << round << ": " << ::testing::PrintToString(finished);
        }
    }
}

// Files looked at and waiting their turns hold no head of theirs in memory, which no budget
// counts: with one worker, 100 waiting files of more than a head's size (all looked at before the
// first is converted) leave the heap no larger by their 64 KB each.
TEST(ConversionEngine, FilesWaitingTheirTurnsHoldNoHeads) {
    QTemporaryDir dir;
    WriteBytes(dir.filePath("p.jpg"), JpegBytesOf(MakePicture(400, 300,
                                                              [](int x, int y) {
                                                                  return static_cast<quint32>(
                                                                      x * 2654435761u ^ y * 40503u);
                                                              }),
                                                  95));
    ASSERT_GT(QFileInfo(dir.filePath("p.jpg")).size(), qint64(PictureFile::kHeadBytes));
    int arrived = 0;
    std::size_t heapAtFirst = 0;
    ConversionEngine engine(
        [&](PictureOutcome&&) {
            if (arrived++ == 0) {
                heapAtFirst = mallinfo2().uordblks;
            }
        },
        1);
    const auto settings = std::make_shared<CurrentSettings>(ConversionSettings{{}, 85, dir.path()});
    const std::size_t heapBefore = mallinfo2().uordblks;
    for (int item = 0; item < 100; ++item) {
        PictureJob job;
        job.item = item;
        job.sourcePath = dir.filePath("p.jpg");
        job.outputSubfolder = QString::number(item);
        job.settings = settings;
        engine.submit(job);
    }
    QElapsedTimer clock;
    clock.start();
    while (arrived < 100 && clock.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    ASSERT_EQ(arrived, 100);
    EXPECT_LT(heapAtFirst, heapBefore + (std::size_t(2) << 20))
        << (heapAtFirst - heapBefore) / 1024 << " KB more with 99 files waiting";
}

// Jobs of one tiny picture, each writing into a folder of its own (outputs apart, as the command
// line's).
struct TinyJobs {
    QTemporaryDir dir;
    QString source = dir.filePath("p.jpg");
    std::shared_ptr<CurrentSettings> settings =
        std::make_shared<CurrentSettings>(ConversionSettings{{}, 85, dir.path()});
    TinyJobs() {
        WriteBytes(source,
                   JpegBytesOf(MakePicture(16, 16, [](int x, int y) { return x * 9u + y; }), 90));
    }
    PictureJob operator()(int item, bool nameWhenDurable) const {
        PictureJob job;
        job.item = item;
        job.sourcePath = source;
        job.outputSubfolder = QString::number(item);
        job.nameWhenDurable = nameWhenDurable;
        job.settings = settings;
        return job;
    }
};

// The handler may run an event loop (a report's) while outcomes keep arriving: every outcome
// still reaches it once, named when the job asked so; and an engine deleted inside that loop
// hands nothing more to anyone, however many had arrived.
TEST(ConversionEngine, OutcomesArrivingWhileTheHandlerWaitsComeOnceAndNotAfterTheEngineGoes) {
    const TinyJobs job;
    constexpr int kJobs = 40;
    for (const bool deleteInside : {false, true}) {
        SCOPED_TRACE(deleteInside ? "deleted inside the loop" : "kept");
        std::vector<int> seen;
        int nested = 0;
        bool gone = false;
        ConversionEngine* engine = nullptr;
        engine = new ConversionEngine(
            [&](PictureOutcome&& o) {
                EXPECT_FALSE(gone) << "handed out after the engine was deleted";
                seen.push_back(o.item);
                EXPECT_FALSE(o.failed()) << o.failure.description();
                EXPECT_TRUE(o.named);
                if (seen.size() > 1) {
                    return;
                }
                ++nested;
                if (deleteInside) {  // as a window closed under a report would
                    QTimer::singleShot(150, [&engine, &gone] {
                        delete engine;
                        engine = nullptr;
                        gone = true;
                    });
                }
                // Waits while the others are made, named and delivered. Nothing captured is
                // touched after this loop: the engine, and this handler with it, may be gone.
                QElapsedTimer wait;
                wait.start();
                while (wait.elapsed() < 300) {
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                }
            },
            2);
        for (int item = 0; item < kJobs; ++item) {
            engine->submit(job(item, true));
        }
        QElapsedTimer clock;
        clock.start();
        while ((deleteInside ? !gone : int(seen.size()) < kJobs) && clock.elapsed() < 30000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        for (int i = 0; i < 50; ++i) {  // time for anything wrongly still on its way
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        EXPECT_EQ(nested, 1);
        std::vector<int> sorted = seen;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end()) << "an outcome twice";
        if (!deleteInside) {
            EXPECT_EQ(int(seen.size()), kJobs);
        }
        delete engine;
    }
}

// Outcomes that keep arriving while the handler is busy do not hold the event loop: what was
// posted to it meanwhile (a click, a timer, a close) runs before the last outcome is handed out.
TEST(ConversionEngine, TheEventLoopHasItsTurnWhileOutcomesKeepArriving) {
    const TinyJobs job;
    constexpr int kJobs = 40;
    for (const bool named : {false, true}) {
        SCOPED_TRACE(named ? "named when durable" : "named in turn");
        int seen = 0;
        int seenWhenTheLoopRan = -1;
        ConversionEngine engine(
            [&](PictureOutcome&&) {
                if (++seen == 1) {  // the rest are made and arrive while this one is busy
                    for (int item = 1; item < kJobs; ++item) {
                        engine.submit(job(item, named));
                    }
                    QMetaObject::invokeMethod(
                        qApp, [&] { seenWhenTheLoopRan = seen; }, Qt::QueuedConnection);
                    std::this_thread::sleep_for(std::chrono::seconds(1));
                }
            },
            2);
        engine.submit(job(0, named));
        QElapsedTimer clock;
        clock.start();
        while ((seen < kJobs || seenWhenTheLoopRan < 0) && clock.elapsed() < 30000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        EXPECT_EQ(seen, kJobs);
        EXPECT_LT(seenWhenTheLoopRan, kJobs) << "every outcome was handed out before the loop ran";
    }
}

}  // namespace

namespace {

// A flat progressive full-colour JPEG.
QByteArray progressiveJpeg(int width, int height) {
    const std::vector<unsigned char> pixels(std::size_t(width) * height * 3, 90);
    tjhandle encoder = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(encoder, pixels.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_444, 90,
                TJFLAG_PROGRESSIVE);
    QByteArray bytes(reinterpret_cast<const char*>(jpeg), static_cast<qsizetype>(size));
    tjFree(jpeg);
    tjDestroy(encoder);
    return bytes;
}

// A progressive picture's decoder keeps 2 bytes a sample of coefficients (74 MB here, in three
// blocks): a worker's second such picture finds the memory of its first; a baseline picture,
// decoded in bands, lets it go; and all is let go when the workers end. Counted by PixelMemory
// itself: the sanitizers' bookkeeping of unmapped memory would blur the process's resident size.
TEST(KeptMemory, ReusedByTheNextPictureAndLetGoWhenNotNeeded) {
    QTemporaryDir dir;
    const QString progressive = dir.filePath("progressive.jpg");
    WriteBytes(progressive, progressiveJpeg(3500, 3500));
    const QString baseline = dir.filePath("baseline.jpg");
    WriteBytes(baseline, JpegBytesOf(MakePicture(64, 64, [](int, int) { return 0x808080u; })));
    const QString order[] = {progressive, progressive, baseline, progressive};
    long fresh[4] = {}, kept[4] = {};
    {
        std::vector<PictureOutcome> outcomes;
        ConversionEngine engine([&](PictureOutcome&& o) { outcomes.push_back(std::move(o)); }, 1);
        const auto settings =
            std::make_shared<CurrentSettings>(ConversionSettings{{}, 85, dir.path()});
        for (int k = 0; k < 4; ++k) {
            const std::size_t before = PixelMemory::freshBytes();
            PictureJob job;
            job.sourcePath = order[k];
            job.settings = settings;
            engine.submit(job);
            while (outcomes.size() < std::size_t(k) + 1) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            }
            ASSERT_FALSE(outcomes.back().failed());
            fresh[k] = static_cast<long>(PixelMemory::freshBytes() - before);
            kept[k] = static_cast<long>(PixelMemory::keptNow());
        }
    }
    EXPECT_GT(fresh[0], 60 << 20);  // most of 74 MB fresh
    EXPECT_LT(fresh[1], fresh[0] / 4);
    EXPECT_GT(kept[1], 60 << 20);
    EXPECT_LT(kept[2], 8 << 20);
    EXPECT_GT(kept[3], 60 << 20);
    // A worker's thread may still be ending when the engine is gone.
    QElapsedTimer clock;
    clock.start();
    while (PixelMemory::keptNow() > 0 && clock.elapsed() < 5000) {
        QThread::msleep(10);
    }
    EXPECT_EQ(PixelMemory::keptNow(), 0u);
}

}  // namespace
