#include "engine/ConversionEngine.h"
#include "support/TestPictures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(ConversionEngine, BiggerFilesWaitingStartFirst) {
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
    // One worker, busy with the first job while the others wait.
    const QString files[] = {picture("first.jpg", 1500), picture("small.jpg", 40),
                             picture("big.jpg", 400), picture("middle.jpg", 150)};
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
    EXPECT_EQ(finished, (std::vector<int>{0, 2, 3, 1}));
}

}  // namespace
