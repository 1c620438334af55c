#include "base/RuntimeError.h"
#include "engine/PictureLoader.h"
#include "engine/output/AtomicFile.h"
#include "engine/output/GroupFlusher.h"
#include "engine/output/JpegEncoder.h"
#include "engine/output/JpegWriter.h"
#include "filter/BlackWhiteFilter.h"
#include "support/TestPictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

void SaveAsJPG(const GreyImage& grey, const QString& path, int quality) {
    StagedFile staged = StageOutputFile(path, EncodeGreyJpeg(grey, quality));
    CommitOutputFile(staged);
}

GreyImage gradient(int width, int height) {
    GreyImage g(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) g.row(y)[x] = static_cast<std::uint8_t>((x + 2 * y) % 256);
    return g;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::string saveFailure(const GreyImage& grey, const QString& path, int quality) {
    try {
        SaveAsJPG(grey, path, quality);
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 5);
        return e.description();
    }
    return "saved";
}

class JpegWriterTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    // Everything in the folder but the given names: leftovers.
    QStringList others(const QStringList& expected = {}) const {
        QStringList names =
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const QString& n : expected) names.removeAll(n);
        return names;
    }
};

TEST_F(JpegWriterTest, WritesAOneChannelJpegCloseToThePicture) {
    const GreyImage grey = gradient(200, 100);
    for (int quality : {1, 50, 85, 100}) {
        const QString path = dir.filePath(QString("q%1.jpg").arg(quality));
        SaveAsJPG(grey, path, quality);
        const QByteArray bytes = readAll(path);
        tjhandle tj = tjInitDecompress();
        int w = 0, h = 0, sub = 0, space = 0;
        ASSERT_EQ(tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(bytes.data()),
                                      bytes.size(), &w, &h, &sub, &space),
                  0);
        EXPECT_EQ(space, TJCS_GRAY) << quality;
        std::vector<unsigned char> back(200 * 100);
        ASSERT_EQ(tjDecompress2(tj, reinterpret_cast<const unsigned char*>(bytes.data()),
                                bytes.size(), back.data(), 200, 200, 100, TJPF_GRAY, 0),
                  0);
        tjDestroy(tj);
        EXPECT_EQ(w, 200);
        EXPECT_EQ(h, 100);
        double error = 0;
        for (int i = 0; i < 200 * 100; ++i) error += std::abs(back[i] - grey.data()[i]);
        error /= 200 * 100;
        EXPECT_LT(error, quality == 100 ? 1.0 : quality == 1 ? 40.0 : 4.0) << quality;
    }
    EXPECT_EQ(others({"q1.jpg", "q50.jpg", "q85.jpg", "q100.jpg"}), QStringList());
}

TEST_F(JpegWriterTest, TheEncoderWritesTurboJpegsAccurateBytesWhateverTheBands) {
    // libjpeg's default settings at every quality, the accurate transform among them: the bytes
    // TurboJPEG writes when asked for that transform. Noise at 600 x 400 takes more than the
    // encoder's first buffer, which then grows.
    for (auto [w, h] :
         {std::pair{200, 100}, std::pair{7, 3}, std::pair{33, 70}, std::pair{600, 400}}) {
        GreyImage grey = gradient(w, h);
        if (w == 600) {
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    grey.row(y)[x] = static_cast<std::uint8_t>(x * 7919 ^ y * 104729);
        }
        for (int quality : {1, 50, 85, 95, 96, 100}) {
            tjhandle tj = tjInitCompress();
            unsigned char* out = nullptr;
            unsigned long size = 0;
            ASSERT_EQ(tjCompress2(tj, grey.data(), w, w, h, TJPF_GRAY, &out, &size, TJSAMP_GRAY,
                                  quality, TJFLAG_ACCURATEDCT),
                      0);
            const std::vector<std::uint8_t> expected(out, out + size);
            tjFree(out);
            tjDestroy(tj);
            const EncodedBytes whole = EncodeGreyJpeg(grey, quality);
            EXPECT_EQ(std::vector<std::uint8_t>(whole.data(), whole.data() + whole.size()),
                      expected)
                << w << "x" << h << " at " << quality;
            // Bands that split the encoder's rows of blocks, that match them, and that cross
            // them.
            for (int band : {3, 8, 13}) {
                JpegEncoder bands(quality);
                bands.begin(w, h);
                for (int y = 0; y < h; y += band)
                    bands.take(grey.row(y), grey.stride(), std::min(band, h - y));
                const EncodedBytes banded = bands.finish();
                EXPECT_EQ(std::vector<std::uint8_t>(banded.data(), banded.data() + banded.size()),
                          expected)
                    << w << "x" << h << " at " << quality << " in bands of " << band;
            }
        }
    }
}

TEST_F(JpegWriterTest, ReplacesAFileOfThatName) {
    const QString path = dir.filePath("out.jpg");
    WriteBytes(path, "an older file of the same name");
    SaveAsJPG(gradient(30, 20), path, 85);
    EXPECT_EQ(LoadPicture(path).width(), 30);
    EXPECT_EQ(others({"out.jpg"}), QStringList());
}

TEST_F(JpegWriterTest, FailuresRaiseTheStatusTextAndLoseNothing) {
    WriteBytes(dir.filePath("file"), "a file, not a folder");
    QDir(dir.path()).mkpath("taken.jpg/inside");  // a folder holds the target's name
    WriteBytes(dir.filePath("kept.jpg"), "keep me");
    const struct {
        QString path;
        int quality;
        const char* description;
    } cases[] = {
        {dir.filePath("missing/out.jpg"), 85, "Cannot save the image. GDI+ Error:10"},
        {dir.filePath("file/out.jpg"), 85, "Cannot save the image. GDI+ Error:10"},
        {dir.filePath("taken.jpg"), 85, "Cannot save the image. GDI+ Error:12"},
        {dir.filePath("kept.jpg"), 0, "Cannot save the image. GDI+ Error:2"},
        {dir.filePath("kept.jpg"), 101, "Cannot save the image. GDI+ Error:2"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(saveFailure(gradient(8, 8), c.path, c.quality), c.description)
            << c.path.toStdString();
    }
    EXPECT_EQ(saveFailure(GreyImage(), dir.filePath("empty.jpg"), 85),
              "Cannot save the image. GDI+ Error:2");
    EXPECT_EQ(readAll(dir.filePath("kept.jpg")), QByteArray("keep me"));
    EXPECT_TRUE(QFileInfo(dir.filePath("taken.jpg/inside")).isDir());
    EXPECT_EQ(others({"file", "taken.jpg", "kept.jpg"}), QStringList());
}

TEST_F(JpegWriterTest, TheAtomicWriteSaysWhichStepFailed) {
    WriteStep step = WriteStep::Write;
    try {
        StagedFile::write(dir.filePath("no/such/folder/x"), nullptr, 0, &step);
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(step, WriteStep::Create);
        EXPECT_EQ(e.number(), 53);
    }
}

TEST_F(JpegWriterTest, TheFilteredResultSavesAndLoadsBack) {
    const BgrxImage source = MakePicture(
        64, 40, [](int x, int y) { return x < 32 ? 0x202020 : (y % 2 ? 0xFFFFFF : 0); });
    const GreyImage grey = ApplyBlackWhiteFilter(source, {});
    SaveAsJPG(grey, dir.filePath("bw.jpg"), 100);
    const BgrxImage back = LoadPicture(dir.filePath("bw.jpg"));
    EXPECT_TRUE(Near(ColourAt(back, 10, 10), 0x202020, 3));
    EXPECT_TRUE(Near(ColourAt(back, 0, 0), 0, 3));
}

TEST_F(JpegWriterTest, LeftoversAreThoseThatNobodyHoldsWhateverTheirProcessNumber) {
    // Runs elsewhere (another container, another machine) name numbers this one cannot check.
    const QString heldElsewhere = dir.filePath(".a-grayscale.jpg.999999999-abcdef.tonvaler-part");
    const QString ended = dir.filePath(".b-grayscale.jpg.1-abcdef.tonvaler-part");  // reused
    const QString notOurs = dir.filePath(".d.jpg.tmp");
    for (const QString& p : {heldElsewhere, ended, notOurs}) WriteBytes(p, "part");
    const int holder = ::open(QFile::encodeName(heldElsewhere).constData(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(holder, F_OFD_SETLK, &lock), 0);
    const StagedFile mine =
        StageOutputFile(dir.filePath("c.jpg"), EncodeGreyJpeg(gradient(8, 8), 85));

    EXPECT_EQ(RemoveStagedLeftovers(dir.path()), 1);
    EXPECT_FALSE(QFile::exists(ended));
    EXPECT_TRUE(QFile::exists(heldElsewhere));
    EXPECT_TRUE(QFile::exists(notOurs));
    // This run's own staged file has no name to be judged by.
    EXPECT_EQ(others({QFileInfo(heldElsewhere).fileName(), ".d.jpg.tmp"}), QStringList());
    ::close(holder);
    EXPECT_EQ(RemoveStagedLeftovers(dir.path()), 1);  // its writer let go
}

TEST_F(JpegWriterTest, TheLongestNameAFolderTakesSavesAndAKilledRunLeavesNothing) {
    // 255 bytes; two-byte characters lie across the temporary's cut.
    const QString name = "a" + QString(119, QChar(0xE9)) + "xx-grayscale.jpg";
    ASSERT_EQ(QFile::encodeName(name).size(), 255);
    const QString target = dir.filePath(name);
    SaveAsJPG(gradient(8, 8), target, 85);
    EXPECT_EQ(LoadPicture(target).width(), 8);
    // Over the file of that name: through a temporary name of its own, cut to fit.
    SaveAsJPG(gradient(16, 8), target, 85);
    EXPECT_EQ(LoadPicture(target).width(), 16);
    EXPECT_EQ(others({name}), QStringList());
    // A run killed between writing and renaming leaves nothing: its file had no name yet.
    const pid_t killed = ::fork();
    if (killed == 0) {
        StagedFile staged =
            StageOutputFile(target, EncodeGreyJpeg(gradient(8, 8), 85), Flush::Later);
        ::_exit(0);  // no clean-up: as if killed
    }
    ASSERT_GT(killed, 0);
    ::waitpid(killed, nullptr, 0);
    EXPECT_EQ(others({name}), QStringList());
    EXPECT_EQ(LoadPicture(target).width(), 16);
}

// Files handed over while a flush runs wait for the next, which flushes them together; an abandon
// waits for the flush that runs and drops those waiting, uncalled and with nothing left behind.
TEST_F(JpegWriterTest, FlushesInGroupsAndAnAbandonDropsThoseWaiting) {
    const EncodedBytes bytes = EncodeGreyJpeg(GreyImage(16, 16), 85);
    const auto staged = [&](int k) {
        return std::make_shared<StagedFile>(
            StageOutputFile(dir.filePath(QStringLiteral("f%1.jpg").arg(k)), bytes, Flush::Later));
    };
    std::mutex mutex;
    std::condition_variable changed;
    bool firstRuns = false, release = false, abandonReturned = false;
    std::vector<int> called;
    {
        GroupFlusher flusher;
        auto first = staged(0);
        StagedFile& firstFile = *first;
        flusher.flush(firstFile, [&, first = std::move(first)](std::optional<RuntimeError>) {
            std::unique_lock lock(mutex);
            firstRuns = true;
            changed.notify_all();
            changed.wait(lock, [&] { return release; });
        });
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return firstRuns; });
        }
        for (int k = 1; k <= 5; ++k) {
            auto file = staged(k);
            flusher.flush(*file, [&, file, k](std::optional<RuntimeError>) {
                std::lock_guard lock(mutex);
                called.push_back(k);
            });
        }
        std::thread abandoning([&] {
            flusher.abandon();
            std::lock_guard lock(mutex);
            abandonReturned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        {
            std::lock_guard lock(mutex);
            EXPECT_FALSE(abandonReturned) << "returned while a flush ran";
            release = true;
        }
        changed.notify_all();
        abandoning.join();
        EXPECT_TRUE(called.empty());
        EXPECT_EQ(others(), QStringList()) << "the staged files are gone with their flushes";

        // Twelve at once: each flushed, durable, and committed whole.
        std::vector<std::shared_ptr<StagedFile>> files;
        std::vector<std::optional<RuntimeError>> failures(12);
        int done = 0;
        for (int k = 0; k < 12; ++k) {
            files.push_back(staged(k));
            flusher.flush(*files.back(), [&, k](std::optional<RuntimeError> failure) {
                std::lock_guard lock(mutex);
                failures[k] = failure;
                ++done;
                changed.notify_all();
            });
        }
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return done == 12; }));
        for (int k = 0; k < 12; ++k) {
            EXPECT_FALSE(failures[k]) << k << ": " << failures[k]->what();
            CommitOutputFile(*files[k]);
            EXPECT_EQ(
                readAll(dir.filePath(QStringLiteral("f%1.jpg").arg(k))),
                QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
        }
    }
}

}  // namespace
