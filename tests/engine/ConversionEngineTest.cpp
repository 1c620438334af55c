#include "engine/ConversionEngine.h"
#include "support/TestPictures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

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
