#include "engine/ConversionEngine.h"
#include "support/TestPictures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>
#include <turbojpeg.h>

#include <fstream>
#include <string>

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

}  // namespace

namespace {

long minorFaults() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

long residentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

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
// blocks): a worker's second such picture finds the memory of its first, and it all goes back to
// the system when the workers end.
TEST(KeptMemory, ASecondPictureTakesNoFreshMemoryAndAllGoesBackWhenTheWorkersEnd) {
    QTemporaryDir dir;
    const QString source = dir.filePath("progressive.jpg");
    WriteBytes(source, progressiveJpeg(3500, 3500));
    const long residentBefore = residentKb();
    long faults[2] = {};
    {
        std::vector<PictureOutcome> outcomes;
        ConversionEngine engine([&](PictureOutcome&& o) { outcomes.push_back(std::move(o)); }, 1);
        const auto settings =
            std::make_shared<CurrentSettings>(ConversionSettings{{}, 85, dir.path()});
        for (long& f : faults) {
            const long before = minorFaults();
            PictureJob job;
            job.sourcePath = source;
            job.settings = settings;
            engine.submit(job);
            const std::size_t count = outcomes.size() + 1;
            while (outcomes.size() < count) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            }
            ASSERT_FALSE(outcomes.back().failed());
            f = minorFaults() - before;
        }
    }
    EXPECT_GT(faults[0], 15000);  // most of 74 MB in fresh pages
    EXPECT_LT(faults[1], faults[0] / 4);
    // A worker's thread may still be ending when the engine is gone.
    QElapsedTimer clock;
    clock.start();
    while (residentKb() - residentBefore >= 8 << 10 && clock.elapsed() < 5000) {
        QThread::msleep(10);
    }
    EXPECT_LT(residentKb() - residentBefore, 8 << 10);
}

}  // namespace
