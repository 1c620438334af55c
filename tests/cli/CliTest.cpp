#include "base/DefaultOutputFolder.h"
#include "base/PathBytes.h"
#include "base/QSettingsStore.h"
#include "base/WindowPointer.h"
#include "cli/CliOptions.h"
#include "cli/CliRun.h"
#include "engine/ContactSheet.h"
#include "engine/PictureLoader.h"
#include "filter/BlackWhiteFilter.h"
#include "imagelist/ImageList.h"
#include "support/FakeDialogs.h"
#include "support/ReadOnlyFolder.h"
#include "support/TestPictures.h"
#include "window/BatchConversion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

namespace {

class CliTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QSettingsStore settings{dir.filePath("Kestrova.ini")};
    QString out = dir.filePath("out");
    std::string printed, errors;

    void SetUp() override { QDir().mkpath(out); }

    QString picture(const QString& relative, quint32 colour = 0x406080) {
        const QString path = dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        WriteBytes(path, JpegBytesOf(MakePicture(
                             40, 30, [&](int x, int) { return x < 20 ? colour : 0xF0F0F0; })));
        return path;
    }
    CliParse parse(const QStringList& args) { return ParseCliOptions(args, settings, 2); }
    int run(const QStringList& args) {
        const CliParse p = parse(args);
        if (!p.options)
            return p.exitStatus;
        char* o = nullptr;
        char* e = nullptr;
        size_t on = 0, en = 0;
        std::FILE* fo = open_memstream(&o, &on);
        std::FILE* fe = open_memstream(&e, &en);
        const int status = RunCli(*p.options, dir.filePath("program"), fo, fe, false);
        std::fclose(fo);
        std::fclose(fe);
        printed = o;
        errors = e;
        std::free(o);
        std::free(e);
        return status;
    }
};

TEST_F(CliTest, OptionsOutsideTheirRangeAreUsageErrorsThatNameTheRange) {
    const struct {
        QStringList args;
        const char* says;
    } cases[] = {
        {{"-q", "0", "x"}, "--quality must be a whole number from 1 to 100"},
        {{"--black", "81", "x"}, "--black must be a whole number from 0 to 80"},
        {{"--gradient", "69", "x"}, "--gradient must be a whole number from 70 to 200"},
        {{"--gray", "ten", "x"}, "--gray must be a whole number from 10 to 70"},
        {{"-j", "0", "x"}, "--jobs must be a whole number from 1 to 256"},
        {{"--format", "gif", "x"}, "--format must be jpeg or png"},
        {{"--bogus", "x"}, "Unknown option 'bogus'"},
        {{}, "no PATH given"},
        {{"--black", "20,40", "x"}, "--black must be a whole number from 0 to 80"},
        {{"--sheet", "s.png", "--black", "20,81", "x"},
         "--black must be whole numbers, separated by commas, from 0 to 80"},
        {{"--sheet", "s.png", "--gray", "10,,20", "x"}, "from 10 to 70"},
        {{"--sheet", "s.png", "x", "y"}, "--sheet takes one PICTURE"},
        {{"--sheet", "s.png", "--crop", "10x10", "x"}, "--crop must be WIDTHxHEIGHT+X+Y"},
        {{"--crop", "10x10+0+0", "x"}, "--crop goes with --sheet"},
        // Numbers past 2^31 and 2^63, negative, and crops beyond the largest picture.
        {{"-j", "4294967298", "x"}, "--jobs must be a whole number from 1 to 256"},
        {{"--memory", "-16", "x"}, "--memory must be a whole number from 16"},
        {{"-q", "99999999999999999999", "x"}, "--quality must be a whole number"},
        {{"--shard", "1/4294967298", "x"}, "--shard must be K/N"},
        {{"--shard", "-1/2", "x"}, "--shard must be K/N"},
        {{"--shard", "0/2", "x"}, "--shard must be K/N"},
        {{"--shard", "1/2/3", "x"}, "--shard must be K/N"},
        {{"--shard-count", "2147483648", "x"}, "--shard-count must be a whole number"},
        {{"--sheet", "s.png", "--crop", "100x100+2147483600+0", "x"}, "--crop must be"},
        {{"--sheet", "s.png", "--crop", "100x100+0+2147483600", "x"}, "--crop must be"},
        {{"--sheet", "s.png", "--crop", "100x100+99999999999+0", "x"}, "--crop must be"},
        {{"--sheet", "s.png", "--crop", "4294967297x1+0+0", "x"}, "--crop must be"},
        {{"--sheet", "s.png", "--crop", "100x100+8093+0", "x"}, "within 8192 x 8193"},
        {{"--sheet", "s.png", "--crop", "1x1+-1+0", "x"}, "--crop must be"},
        // Empty values, as an unset variable gives them.
        {{"-o", "", "x"}, "--output needs a value"},
        {{"--report", "", "x"}, "--report needs a value"},
        {{"--ext", "", "x"}, "--ext needs a value"},
        {{"--files-from", ""}, "--files-from needs a value"},
        {{"--sheet", "", "x"}, "--sheet needs a value"},
        // What would pass unseen: a second value, options a sheet does not use.
        {{"--shard", "1/2", "--shard", "2/2", "x"}, "--shard is given more than once"},
        {{"-o", "a", "--output", "b", "x"}, "-o is given more than once"},
        {{"--sheet", "s.png", "--dry-run", "x"}, "--dry-run does not go with --sheet"},
        {{"--sheet", "s.png", "--report", "r", "x"}, "--report does not go with --sheet"},
    };
    for (const auto& c : cases) {
        const CliParse p = parse(c.args);
        EXPECT_EQ(p.exitStatus, 2) << c.says;
        EXPECT_TRUE(p.message.contains(c.says)) << p.message.toStdString();
    }
    EXPECT_EQ(parse({"--help"}).exitStatus, 0);
    EXPECT_TRUE(parse({"--version"}).message.startsWith("tonvaler-cli "));
}

// Each cell of a sheet is the filter's own result of the crop with that cell's values, placed
// where the layout says, in a sheet of the layout's size; a crop outside the picture fails.
TEST_F(CliTest, AContactSheetHoldsTheFilterResultOfEveryCombination) {
    const QString source = dir.filePath("p.png");
    const BgrxImage original = MakePicture(90, 70, [](int x, int y) {
        return static_cast<quint32>((x * 29) ^ (y * 53) ^ ((x + y) % 9 ? 0x303030 : 0));
    });
    ASSERT_TRUE(
        QImage(original.data(), 90, 70, original.stride(), QImage::Format_RGB32).save(source));
    const QString file = dir.filePath("sheet.png");
    ASSERT_EQ(run({"--sheet", file, "--black", "0,30,80", "--gray", "10,70", "--crop",
                   "50x40+20+15", source}),
              0)
        << errors;
    BgrxImage crop(50, 40);
    for (int y = 0; y < 40; ++y) {
        std::memcpy(crop.row(y), original.row(15 + y) + 4 * 20, 50 * 4);
    }
    const ContactSheet layout(50, 40, {0, 30, 80}, {60}, {10, 70});
    const QImage sheet = QImage(file).convertToFormat(QImage::Format_Grayscale8);
    ASSERT_EQ(sheet.size(), QSize(int(layout.width()), int(layout.height())));
    EXPECT_EQ(layout.columns(), 3);
    ASSERT_EQ(layout.cells().size(), 6u);
    for (int i = 0; i < 6; ++i) {
        FilterThresholds t = layout.cells()[i];
        t.gradient = 180;  // the stored default: "--gradient" was not given
        GreyImage expected(50, 40);
        ApplyBlackWhiteFilter(crop.data(), crop.stride(), 50, 40, t, expected.data(),
                              expected.stride());
        for (int y = 0; y < 40; ++y) {
            ASSERT_EQ(std::memcmp(sheet.constScanLine(layout.cellY(i) + y) + layout.cellX(i),
                                  expected.row(y), 50),
                      0)
                << "cell " << i << " row " << y;
        }
    }
    EXPECT_EQ(run({"--sheet", file, "--crop", "50x40+41+0", source}), 1);
    EXPECT_NE(errors.find("lies outside"), std::string::npos) << errors;
    EXPECT_EQ(run({"--sheet", dir.filePath("./p.png"), source}), 2);
    EXPECT_NE(errors.find("would replace its picture"), std::string::npos) << errors;
    EXPECT_EQ(QImage(source).size(), QSize(90, 70));
}

// Paths read from a NUL-separated list (spaces and a line break in a name), folders kept below
// the output folder, a JSON line per input that agrees with the summary.
TEST_F(CliTest, AListOfFilesKeepsItsTreeAndReportsEveryInput) {
    const QString a = picture("cam/100CAM/IMG_0001.jpg");
    const QString b = picture("cam/101CAM/IMG_0001.jpg", 0x102030);
    const QString odd = picture("cam/a name\nwith a break.jpg");
    WriteBytes(dir.filePath("cam/broken.jpg"), "not a picture");
    QByteArray list;
    for (const QString& path :
         {a, b, odd, dir.filePath("cam/broken.jpg"), dir.filePath("gone.jpg")})
        list += PathBytes(path) + '\0';
    WriteBytes(dir.filePath("list"), list);
    const QString report = dir.filePath("report.jsonl");
    EXPECT_EQ(run({"-o", out, "--keep-tree", "--report", report, "--null", "--files-from",
                   dir.filePath("list"), dir.filePath("cam/100CAM")}),
              1);
    EXPECT_EQ(printed, "2 converted, 2 failed, 2 skipped\n") << errors;
    // Absolute paths from the list keep no folders; the folder given keeps what lies below it.
    EXPECT_TRUE(QFile::exists(out + "/IMG_0001-grayscale.jpg"));
    EXPECT_TRUE(QFile::exists(out + "/a name\nwith a break-grayscale.jpg"));
    // The folder given first holds an IMG_0001.jpg too, and the list names it again: only the
    // last of the three with that output is converted.
    EXPECT_NE(errors.find("2 input(s) not converted: a later input of this run has the same "
                          "output (IMG_0001.jpg, IMG_0001.jpg)"),
              std::string::npos)
        << errors;
    QFile lines(report);
    ASSERT_TRUE(lines.open(QIODevice::ReadOnly));
    std::map<QString, int> statuses;
    int count = 0;
    while (!lines.atEnd()) {
        const QJsonObject line = QJsonDocument::fromJson(lines.readLine()).object();
        ASSERT_TRUE(line.contains("path") && line.contains("output") && line.contains("ms"));
        ++statuses[line["status"].toString()];
        ++count;
    }
    EXPECT_EQ(count, 6);
    EXPECT_EQ(statuses["converted"], 2);
    EXPECT_EQ(statuses["failed"], 2);
    EXPECT_EQ(statuses["skipped"], 2);

    // Same-named pictures in two folders walked from their parent stay apart with --keep-tree.
    const QString tree = dir.filePath("tree-out");
    QDir().mkpath(tree);
    EXPECT_EQ(run({"-o", tree, "--keep-tree", dir.filePath("cam")}), 1);  // broken.jpg fails
    EXPECT_TRUE(QFile::exists(tree + "/100CAM/IMG_0001-grayscale.jpg"));
    EXPECT_TRUE(QFile::exists(tree + "/101CAM/IMG_0001-grayscale.jpg"));
}

// A picture whose capture data cannot be carried still converts; the report says why, in a field
// of its own, and says nothing of the pictures that carry theirs whole.
TEST_F(CliTest, TheReportSaysWhyCaptureDataWasLeftOut) {
    const QString whole = picture("whole.jpg");
    const QString broken = picture("broken.jpg");
    QByteArray bytes = JpegBytesOf(MakePicture(40, 30, [](int x, int) { return x * 6; }));
    const QByteArray exif(
        "\xFF\xE1\0\x10"
        "Exif\0\0"
        "II*\0\xF0\xFF\xFF\x7F",
        16 + 2);
    WriteBytes(broken, bytes.insert(2, exif));
    const QString report = dir.filePath("report.jsonl");
    EXPECT_EQ(run({"-o", out, "--report", report, whole, broken}), 0) << errors;
    QFile lines(report);
    ASSERT_TRUE(lines.open(QIODevice::ReadOnly));
    std::map<QString, QJsonObject> byPath;
    while (!lines.atEnd()) {
        const QJsonObject line = QJsonDocument::fromJson(lines.readLine()).object();
        byPath[line["path"].toString()] = line;
    }
    EXPECT_EQ(byPath[broken]["status"].toString(), "converted");
    EXPECT_EQ(byPath[broken]["captureData"].toString(),
              "its Exif's first directory lies outside the block");
    EXPECT_EQ(byPath[whole]["status"].toString(), "converted");
    EXPECT_FALSE(byPath[whole].contains("captureData"));
}

std::multiset<std::string> linesOf(const std::string& text) {
    std::multiset<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.insert(line);
    }
    return lines;
}

// N shards split the inputs between them, each input in exactly one, whatever their order.
TEST_F(CliTest, ShardsPartitionTheInputsInAnyOrder) {
    QStringList all;
    for (int i = 0; i < 60; ++i) {
        all.append(picture(QString("s/%1.jpg").arg(i)));
    }
    QStringList reversed = all;
    std::reverse(reversed.begin(), reversed.end());
    std::multiset<std::string> seen;
    for (int k = 1; k <= 3; ++k) {
        const QString shard = QString("%1/3").arg(k);
        ASSERT_EQ(run(QStringList{"--dry-run", "--shard", shard} + all), 0);
        const std::multiset<std::string> a = linesOf(printed);
        ASSERT_EQ(run(QStringList{"--dry-run", "--shard", shard} + reversed), 0);
        const std::multiset<std::string> b = linesOf(printed);
        EXPECT_EQ(a, b) << "shard " << k;
        EXPECT_GT(a.size(), 5u) << "shard " << k;
        seen.insert(a.begin(), a.end());
    }
    EXPECT_EQ(seen.size(), 60u);
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), 60u);

    // The share from an array job's environment, only when asked for. S: Slurm's ID, COUNT,
    // MIN, MAX, STEP; "" leaves a variable out.
    using Slurm = std::array<const char*, 5>;
    const struct {
        Slurm slurm;
        const char* jobIndex;
        QStringList args;
        int shard, count;
        const char* problem;
    } cases[] = {
        {{"3", "4", "1", "4", "1"}, "", {"x"}, 0, 0, nullptr},  // not asked: every input
        {{"3", "4", "1", "4", "1"}, "", {"--shard", "auto", "x"}, 3, 4, nullptr},
        {{"3", "4", "", "", ""}, "", {"--shard", " auto ", "x"}, 3, 4, nullptr},
        {{"0", "4", "0", "3", "1"}, "", {"--shard", "auto", "x"}, 1, 4, nullptr},
        {{"4", "3", "2", "6", "2"}, "", {"--shard", "auto", "x"}, 2, 3, nullptr},  // 2-6:2
        {{"6", "3", "2", "6", "2"}, "", {"--shard", "auto", "x"}, 3, 3, nullptr},
        {{"3", "3", "2", "6", "2"}, "", {"--shard", "auto", "x"}, 0, 0, "not one of the array"},
        {{"7", "3", "1", "7", "1"}, "", {"--shard", "auto", "x"}, 0, 0, "not evenly stepped"},
        {{"2147483648", "4", "1", "", ""}, "", {"--shard", "auto", "x"}, 0, 0, "whole numbers"},
        {{"2", "4", "1", "4", "0"}, "", {"--shard", "auto", "x"}, 0, 0, "whole numbers"},
        {{"2147483647", "2147483647", "0", "", ""},
         "",
         {"--shard", "auto", "x"},
         0,
         0,
         "gives shard 2147483648 of 2147483647, which does not exist"},
        {{"", "", "", "", ""},
         "2147483647",
         {"--shard-count", "2147483647", "x"},
         0,
         0,
         "gives shard 2147483648 of 2147483647, which does not exist"},
        {{"3", "4", "1", "4", "1"},
         "",
         {"--shard-count", "2", "x"},
         0,
         0,
         "--shard-count goes with JOB_COMPLETION_INDEX"},
        {{"3", "4", "1", "4", "1"}, "", {"--shard", "1/2", "x"}, 1, 2, nullptr},
        {{"", "", "", "", ""}, "1", {"--shard-count", "2", "x"}, 2, 2, nullptr},
        {{"", "", "", "", ""}, "1", {"--shard", "auto", "--shard-count", "2", "x"}, 2, 2, nullptr},
        {{"", "", "", "", ""}, "1", {"--shard", "auto", "x"}, 0, 0, "needs --shard-count"},
        {{"", "", "", "", ""}, "1", {"x"}, 0, 0, nullptr},
        {{"", "", "", "", ""}, "5", {"--shard-count", "2", "x"}, 0, 0, "does not exist"},
        {{"", "", "", "", ""}, "", {"--shard", "3/2", "x"}, 0, 0, "--shard must be K/N"},
        {{"", "", "", "", ""}, "", {"--shard", "auto", "x"}, 0, 0, "needs an array job's"},
        {{"", "", "", "", ""},
         "",
         {"--shard-count", "2", "x"},
         0,
         0,
         "--shard-count goes with JOB_COMPLETION_INDEX"},
        {{"", "", "", "", ""},
         "",
         {"--shard", "1/2", "--shard-count", "2", "x"},
         0,
         0,
         "--shard-count goes with --shard auto"},
    };
    const char* names[] = {"SLURM_ARRAY_TASK_ID", "SLURM_ARRAY_TASK_COUNT", "SLURM_ARRAY_TASK_MIN",
                           "SLURM_ARRAY_TASK_MAX", "SLURM_ARRAY_TASK_STEP"};
    for (const auto& c : cases) {
        for (int i = 0; i < 5; ++i) {
            if (*c.slurm[i])
                qputenv(names[i], c.slurm[i]);
        }
        if (*c.jobIndex)
            qputenv("JOB_COMPLETION_INDEX", c.jobIndex);
        const CliParse p = parse(c.args);
        for (const char* name : names) qunsetenv(name);
        qunsetenv("JOB_COMPLETION_INDEX");
        if (c.problem == nullptr) {
            ASSERT_TRUE(p.options)
                << c.args.join(' ').toStdString() << ": " << p.message.toStdString();
            EXPECT_EQ(p.options->shard, c.shard);
            EXPECT_EQ(p.options->shardCount, c.count);
        } else {
            EXPECT_EQ(p.exitStatus, 2);
            EXPECT_TRUE(p.message.contains(c.problem)) << p.message.toStdString();
        }
    }
}

// A rerun with --skip-existing leaves the outputs newer than their sources alone and converts
// the rest.
TEST_F(CliTest, SkipExistingConvertsOnlyWhatIsMissingOrOlderThanItsSource) {
    const QString a = picture("a.jpg");
    const QString b = picture("b.jpg");
    const QString c = picture("c.jpg");
    ASSERT_EQ(run({"-o", out, a, b}), 0);
    const QFileInfo before(out + "/a-grayscale.jpg");
    QThread::msleep(20);
    picture("b.jpg", 0x204060);  // b changed since its output was written
    EXPECT_EQ(run({"-o", out, "--skip-existing", a, b, c}), 0);
    EXPECT_EQ(printed, "2 converted, 0 failed, 1 skipped\n");
    EXPECT_EQ(QFileInfo(out + "/a-grayscale.jpg").lastModified(), before.lastModified());
    EXPECT_TRUE(QFile::exists(out + "/c-grayscale.jpg"));
}

timespec timeOf(const QString& path) {
    struct stat info {};
    EXPECT_EQ(::stat(PathBytes(path).constData(), &info), 0) << path.toStdString();
    return info.st_mtim;
}

void setTime(const QString& path, timespec time) {
    const timespec times[2] = {{0, UTIME_OMIT}, time};
    ASSERT_EQ(::utimensat(AT_FDCWD, PathBytes(path).constData(), times, 0), 0);
}

bool operator==(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether --skip-existing finds an output up to date, by the output's time against its
// source's: without --keep-time when it is newer (a nanosecond decides, a second counts above the
// nanoseconds); with it when it has the source's time cut down as a file system keeps it, never
// a time near it (the source changed within a second or two of the time its output was given).
TEST_F(CliTest, SkipExistingWeighsTheTimes) {
    const QString source = picture("a.jpg");
    const QString output = out + "/a-grayscale.jpg";
    const timespec at{1700000000, 500000000};
    setTime(source, at);
    const struct {
        timespec written;
        bool keepTime;
        bool skipped;
    } cases[] = {
        {{1700000000, 500000001}, false, true},
        {{1700000000, 500000001}, true, false},
        {{1700000000, 500000000}, false, false},
        {{1700000000, 500000000}, true, true},
        {{1700000000, 499999999}, false, false},
        {{1700000000, 499999999}, true, false},
        {{1700000001, 0}, false, true},
        {{1699999999, 999999999}, false, false},
        // with --keep-time, as a file system of whole seconds or FAT (even ones) keeps it
        {{1700000000, 0}, true, true},
        {{1699999999, 600000000}, true, false},
        {{1699999998, 600000000}, true, false},
        {{1700000001, 400000000}, true, false},
        {{1700000002, 0}, true, false},
        {{1800000000, 0}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.written.tv_sec << "." << c.written.tv_nsec
                                        << (c.keepTime ? " --keep-time" : ""));
        WriteBytes(output, "the last run's");
        setTime(output, c.written);
        QStringList args{"-o", out, "--skip-existing", source};
        if (c.keepTime)
            args.prepend("--keep-time");
        ASSERT_EQ(run(args), 0) << errors;
        EXPECT_EQ(printed,
                  c.skipped ? "0 converted, 0 failed, 1 skipped\n" : "1 converted, 0 failed\n");
        if (c.skipped)
            EXPECT_TRUE(timeOf(output) == c.written);
        else
            EXPECT_EQ(timeOf(output) == at, c.keepTime);
    }
}

// --keep-time: each output has its source's time to the nanosecond, also one written over a
// newer output and two made from one source; a second run finds them all up to date.
TEST_F(CliTest, KeepTimeGivesEachOutputItsSourcesTime) {
    const QString a = picture("a.jpg");
    const QString b = picture("b.jpg");
    const QString also = dir.filePath("also-a.jpg");
    ASSERT_TRUE(QFile::link(a, also));
    setTime(a, {1500000000, 123456789});
    setTime(b, {1400000000, 987654321});  // older than a: a date sort puts it first
    WriteBytes(out + "/b-grayscale.jpg", "newer than b");
    ASSERT_EQ(run({"--keep-time", "-o", out, a, b, also}), 0) << errors;
    EXPECT_EQ(printed, "3 converted, 0 failed\n");
    EXPECT_TRUE(timeOf(out + "/a-grayscale.jpg") == timeOf(a));
    EXPECT_TRUE(timeOf(out + "/b-grayscale.jpg") == timeOf(b));
    EXPECT_TRUE(timeOf(out + "/also-a-grayscale.jpg") == timeOf(a));
    EXPECT_EQ(run({"--keep-time", "--skip-existing", "-o", out, a, b, also}), 0);
    EXPECT_EQ(printed, "0 converted, 0 failed, 3 skipped\n");
}

TEST_F(CliTest, DefaultsAreWhatTheWindowStoredAndNothingIsWritten) {
    settings.write("Slider1", "40");
    settings.write("Slider3", "70");
    settings.write("Slider4", "garbage");
    settings.write("Output Folder", out);
    const CliOptions o = *parse({"x.jpg"}).options;
    EXPECT_EQ(o.quality, 40);
    EXPECT_EQ(o.thresholds.black, 60);
    EXPECT_EQ(o.thresholds.gradient, 70);
    EXPECT_EQ(o.thresholds.gray, 50);  // unreadable: the slider's default
    EXPECT_EQ(o.outputFolder, out);
    EXPECT_EQ(o.jobs, 2);
    QFile f(dir.filePath("Kestrova.ini"));
    f.open(QIODevice::ReadOnly);
    const QByteArray before = f.readAll();
    run({"-o", out, picture("a.jpg")});
    f.seek(0);
    EXPECT_EQ(f.readAll(), before);
}

TEST_F(CliTest, ExitStatusAndSummary) {
    const QString good = picture("good.jpg");
    WriteBytes(dir.filePath("bad.jpg"), "not a picture");
    EXPECT_EQ(run({"-o", out, good}), 0);
    EXPECT_EQ(printed, "1 converted, 0 failed\n");
    EXPECT_EQ(errors, "");
    EXPECT_EQ(run({"-o", out, dir.filePath("bad.jpg"), good, dir.filePath("gone.jpg")}), 1);
    EXPECT_EQ(printed, "1 converted, 2 failed\n");
    EXPECT_NE(errors.find((dir.filePath("bad.jpg") + ": the file is not a picture").toStdString()),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find((dir.filePath("gone.jpg") + ": No such file or directory").toStdString()),
              std::string::npos);
    EXPECT_EQ(run({"-o", dir.filePath("nowhere"), good}), 2);
}

TEST_F(CliTest, ADryRunPrintsTheInputsInOrderAndConvertsNothing) {
    picture("tree/b.jpg");
    picture("tree/a.jpg");
    picture("tree/sub/c.jpg");
    WriteBytes(dir.filePath("tree/~lock.jpg"), "x");
    WriteBytes(dir.filePath("tree/notes.txt"), "x");
    const QString loose = picture("loose.jpg");
    const QString t = dir.filePath("tree");
    EXPECT_EQ(run({"--dry-run", "-o", out, t, loose}), 0);
    EXPECT_EQ(QString::fromStdString(printed),
              QStringList({t + "/a.jpg", t + "/b.jpg", t + "/notes.txt", t + "/sub/c.jpg", loose})
                      .join('\n') +
                  '\n');
    EXPECT_EQ(run({"--dry-run", "--ext", "jpg", "-o", out, t}), 0);
    EXPECT_EQ(QString::fromStdString(printed).count('\n'), 3);
    EXPECT_TRUE(QDir(out).isEmpty());
}

TEST_F(CliTest, PngIsTheFilterResultExactly) {
    const QString source = picture("p.jpg");
    ASSERT_EQ(run({"--format", "png", "--black", "30", "-o", out, source}), 0);
    const BgrxImage png = LoadPicture(out + "/p-grayscale.png");
    const GreyImage expected = ApplyBlackWhiteFilter(LoadPicture(source), {30, 180, 50});
    ASSERT_EQ(png.width(), expected.width());
    for (int y = 0; y < png.height(); ++y)
        for (int x = 0; x < png.width(); ++x)
            ASSERT_EQ(png.row(y)[4 * x], expected.row(y)[x]) << x << "," << y;
}

TEST_F(CliTest, TheCommandLineAndTheWindowWriteTheSameBytes) {
    const QString a = picture("a.jpg", 0x102030);
    const QString b = picture("b.jpg", 0xA0B0C0);
    ASSERT_EQ(run({"-q", "70", "--gray", "20", "-o", out, a, b}), 0);

    struct Window : BatchWindow {
        QString folder;
        FilterThresholds thresholds() const override { return {60, 180, 20}; }
        int quality() const override { return 70; }
        QString outputFolder() const override { return folder; }
        void setProgressValue(double) override {}
        void setProgressText(const QString&) override {}
    } window;
    window.folder = dir.filePath("window");
    QDir().mkpath(window.folder);
    FakeDialogs dialogs;
    WindowPointer pointer;
    ImageList list(pointer);
    list.AddImagePaths({a, b});
    BatchConversion batch(window, list, pointer, dialogs, 2);
    batch.PushButton2_Click();
    while (batch.ConversionRunning()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    for (const char* name : {"a-grayscale.jpg", "b-grayscale.jpg"}) {
        QFile cli(out + "/" + name), win(window.folder + "/" + name);
        ASSERT_TRUE(cli.open(QIODevice::ReadOnly) && win.open(QIODevice::ReadOnly)) << name;
        EXPECT_EQ(cli.readAll(), win.readAll()) << name;
    }
}

}  // namespace

namespace {

TEST_F(CliTest, FailuresThatLoseNothingAndSayWhy) {
    const QString good = picture("good.jpg");
    // Its output would replace the second input, which must survive.
    const QString a = picture("in/a.jpg");
    const QString aOut = picture("in/a-grayscale.jpg");
    QFile before(aOut);
    before.open(QIODevice::ReadOnly);
    const QByteArray aOutBytes = before.readAll();
    QDir().mkpath(out + "/good-grayscale.jpg");  // a folder where the output goes
    QDir().mkpath(dir.filePath("in/sub"));
    QFile::link(aOut, dir.filePath("link.png"));
    const struct {
        QStringList args;
        int status;
        QString says;
    } cases[] = {
        {{"-o", dir.filePath("in"), a, aOut},
         1,
         a + ": its output would replace another input of this run"},
        {{"-o", out, good},
         1,
         good + ": cannot save " + out + "/good-grayscale.jpg: Is a directory"},
        {{"-o", good, good}, 2, "\"" + good + "\" is a file, not a folder"},
        {{"-o", out, "--samples"}, 1, "no sample pictures in"},
        {{"-o", dir.filePath("in"), "--report", "/dev/full", aOut},
         1,
         "cannot write the report \"/dev/full\": No space left on device"},
        {{"-o", out, "--report", dir.filePath("in/../in/a.jpg"), a},
         2,
         "would replace an input or an output of this run"},
        {{"-o", out, "--report", out + "//a-grayscale.jpg", a},
         2,
         "would replace an input or an output of this run"},
        {{"--dry-run", "-o", out, "--report", dir.filePath("nowhere/r"), a},
         2,
         "cannot write the report: No such file or directory"},
        {{"-o", out, "--files-from", dir.filePath("in")},
         2,
         "cannot read the list of files: Is a directory"},
        {{"--sheet", dir.filePath("link.png"), a},
         2,
         "would replace something that is not a plain"},
        {{"-o", dir.filePath("in/sub"), "--shard", "1/2", dir.filePath("in")},
         2,
         "must lie outside the folders walked"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.args), c.status) << c.says.toStdString();
        EXPECT_NE(errors.find(c.says.toStdString()), std::string::npos) << errors;
    }
    QFile after(aOut);
    after.open(QIODevice::ReadOnly);
    EXPECT_EQ(after.readAll(), aOutBytes);
    EXPECT_EQ(QImage(a).size(), QSize(40, 30));  // not made a report
    EXPECT_TRUE(QFile::exists(dir.filePath("in/a-grayscale-grayscale.jpg")));

    // Lines that cannot be written fail the run.
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    std::FILE* quiet = std::fopen("/dev/null", "w");
    EXPECT_EQ(RunCli(*parse({"--dry-run", good}).options, dir.path(), full, quiet, false), 1);
    std::fclose(full);
    std::fclose(quiet);
}

TEST_F(CliTest, WithoutAStoredFolderTheOutputGoesWhereTheWindowsWould) {
    const CliOptions o = *parse({"x.jpg"}).options;
    EXPECT_FALSE(o.outputFolder.isEmpty());
    EXPECT_EQ(QFileInfo(o.outputFolder).canonicalFilePath(),
              QFileInfo(DefaultOutputFolder()).canonicalFilePath());
}

}  // namespace

namespace {

TEST_F(CliTest, NamesThatAreNotUtf8AreFoundAndConverted) {
    const QString latin1 = PathText(QFile::encodeName(dir.path()) + "/in/caf\xE9.jpg");
    QDir().mkpath(dir.filePath("in"));
    const QString source = picture("source.jpg");
    ASSERT_EQ(::rename(QFile::encodeName(source).constData(), PathBytes(latin1).constData()), 0);
    EXPECT_EQ(run({"--dry-run", dir.filePath("in")}), 0);
    EXPECT_EQ(QByteArray::fromStdString(printed), PathBytes(latin1) + "\n");
    EXPECT_EQ(run({"-o", out, dir.filePath("in"), latin1}), 0) << errors;
    struct stat info {};
    EXPECT_EQ(::stat((QFile::encodeName(out) + "/caf\xE9-grayscale.jpg").constData(), &info), 0);
}

}  // namespace

namespace {

// Whether a run's printed lines hold `text` exactly `times` times.
int timesIn(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// However the folder is written, its tree is kept below the output folder, also written oddly.
TEST_F(CliTest, TheTreeIsKeptWhateverFormTheFolderIsWrittenIn) {
    picture("photos/A/IMG_0001.jpg", 0x102030);
    picture("photos/B/IMG_0001.jpg", 0xA0B0C0);
    picture("photos/IMG_0002.jpg");
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    int i = 0;
    for (const QString& form : {QString("photos"), QString("photos/"), QString("photos//"),
                                QString("./photos/"), QString("photos/."), QString("photos/A/.."),
                                QString("photos/./A/../"), dir.filePath("photos") + "//"}) {
        const QString to = dir.filePath(QString("tree%1").arg(++i));
        QDir().mkpath(to);
        const QString report = dir.filePath(QString("report%1").arg(i));
        EXPECT_EQ(run({"--keep-tree", "--report", report, "-o", to + "/", form}), 0) << errors;
        EXPECT_EQ(printed, "3 converted, 0 failed\n") << form.toStdString();
        QFile lines(report);
        ASSERT_TRUE(lines.open(QIODevice::ReadOnly));
        std::set<QString> outputs;
        while (!lines.atEnd()) {
            outputs.insert(QJsonDocument::fromJson(lines.readLine())["output"].toString());
        }
        EXPECT_EQ(outputs, (std::set<QString>{to + "/IMG_0002-grayscale.jpg",
                                              to + "/A/IMG_0001-grayscale.jpg",
                                              to + "/B/IMG_0001-grayscale.jpg"}))
            << form.toStdString();
        for (const QString& output : outputs) {
            EXPECT_TRUE(QFile::exists(output)) << output.toStdString();
        }
    }
    // The same folder named twice: each picture once, nothing said.
    EXPECT_EQ(run({"--keep-tree", "-o", out, "photos", dir.filePath("photos/A/..")}), 0);
    EXPECT_EQ(printed, "3 converted, 0 failed\n");
    EXPECT_EQ(errors, "");
    QDir::setCurrent(before);
}

// The walk enters every folder it can read, whatever its name; one it cannot read is a failure.
TEST_F(CliTest, EveryFolderThatCanBeReadIsWalkedAndOneThatCannotIsAFailure) {
    picture("photos/what?/a.jpg");
    picture("photos/bell\a/b.jpg");
    picture("photos/.cache/hidden.jpg");
    picture("photos/locked/c.jpg");
    // Reached through a link first in the walk's order, and without one a level further down.
    picture("photos/deep/deeper/d.jpg");
    QFile::link(dir.filePath("photos/deep/deeper"), dir.filePath("photos/a-link"));
    const QString secret = picture("photos/secret.jpg");
    QFile::setPermissions(secret, {});
    const QString locked = dir.filePath("photos/locked");
    const ReadOnlyFolder unreadable(locked, {});
    EXPECT_EQ(run({"--dry-run", "-o", out, dir.filePath("photos")}), 1);
    std::multiset<std::string> expected;
    for (const char* name :
         {"photos/bell\a/b.jpg", "photos/deep/deeper/d.jpg", "photos/what?/a.jpg"})
        expected.insert(dir.filePath(name).toStdString());
    EXPECT_EQ(linesOf(printed), expected);
    const std::string says =
        (locked + ": cannot read the folder (Permission denied)").toStdString();
    EXPECT_NE(errors.find(says), std::string::npos) << errors;
    EXPECT_NE(errors.find((secret + ": Permission denied").toStdString()), std::string::npos)
        << errors;
    EXPECT_EQ(run({"-o", out, dir.filePath("photos")}), 1);
    EXPECT_EQ(printed, "3 converted, 2 failed\n");
    EXPECT_NE(errors.find(says), std::string::npos) << errors;
    EXPECT_TRUE(QFile::exists(out + "/a-grayscale.jpg"));
    EXPECT_TRUE(QFile::exists(out + "/b-grayscale.jpg"));
}

// The checks that concern the whole run are made on the whole list, whatever the shards: an
// input whose output would replace another input fails in the one shard that holds it, and of
// two inputs with one output only the later is converted, as in one run.
TEST_F(CliTest, ShardsMakeTheWholeRunsChecksOnTheWholeList) {
    const QString in = dir.filePath("in");
    QStringList inputs{picture("in/a.jpg"), picture("in/a-grayscale.jpg", 0x112233),
                       picture("x/IMG.jpg", 0x102030), picture("y/IMG.jpg", 0xA0B0C0)};
    for (int i = 0; i < 8; ++i) {
        inputs.append(picture(QString("in/p%1.jpg").arg(i), 0x010101 * (i * 20)));
    }
    const auto readAll = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const auto outputs = [&] {
        std::map<QString, QByteArray> written;
        for (const QString& name : QDir(in).entryList(QDir::Files)) {
            if (!inputs.contains(in + "/" + name)) {
                written[name] = readAll(in + "/" + name);
                QFile::remove(in + "/" + name);
            }
        }
        return written;
    };
    const QByteArray input = readAll(inputs[1]);
    ASSERT_EQ(run(QStringList{"-o", in} + inputs), 1);
    const std::string refused =
        (inputs[0] + ": its output would replace another input").toStdString();
    const std::string sameOutput =
        "1 input(s) not converted: a later input of this run has the "
        "same output (IMG.jpg)";
    ASSERT_EQ(timesIn(errors, refused), 1) << errors;
    ASSERT_EQ(timesIn(errors, sameOutput), 1) << errors;
    const std::map<QString, QByteArray> oneRun = outputs();
    ASSERT_EQ(oneRun.size(), 10u);  // 8, a-grayscale.jpg's own, and y's IMG
    for (int count = 2; count <= 5; ++count) {
        std::string said;
        int failedShards = 0;
        for (int shard = 1; shard <= count; ++shard) {
            failedShards += run(
                QStringList{"-o", in, "--shard", QString("%1/%2").arg(shard).arg(count)} + inputs);
            said += errors;
        }
        EXPECT_EQ(failedShards, 1) << count << " shards: " << said;
        EXPECT_EQ(timesIn(said, refused), 1) << count << " shards: " << said;
        EXPECT_EQ(timesIn(said, sameOutput), 1) << count << " shards: " << said;
        EXPECT_EQ(readAll(inputs[1]), input) << count << " shards";
        EXPECT_EQ(outputs(), oneRun) << count << " shards";
    }
}

// A dry run prints exactly the inputs that the same command converts, and fails as it would.
TEST_F(CliTest, ADryRunPrintsExactlyWhatTheRunConverts) {
    const QString in = dir.filePath("in");
    const QStringList inputs{picture("in/a.jpg"),         picture("in/a-grayscale.jpg", 0x112233),
                             picture("x/IMG.jpg"),        picture("y/IMG.jpg", 0xA0B0C0),
                             picture("in/b.jpg"),         picture("in/c.jpg"),
                             dir.filePath("in/gone.jpg"), picture("in/d.jpg")};
    ASSERT_EQ(run({"-o", in, inputs[4]}), 0);  // b's output is up to date
    const QStringList rows[] = {
        {"--skip-existing", "--shard", "1/2"},
        {"--skip-existing", "--shard", "2/2"},
        {"--skip-existing"},
        {},
    };
    std::vector<std::size_t> counts;
    for (const QStringList& row : rows) {
        const QStringList args = QStringList{"-o", in} + row + inputs;
        const int dryStatus = run(QStringList{"--dry-run"} + args);
        const std::multiset<std::string> listed = linesOf(printed);
        const QString report = dir.filePath("report");
        EXPECT_EQ(run(QStringList{"--report", report} + args), dryStatus)
            << row.join(' ').toStdString();
        std::multiset<std::string> converted;
        QFile lines(report);
        ASSERT_TRUE(lines.open(QIODevice::ReadOnly));
        while (!lines.atEnd()) {
            const QJsonObject line = QJsonDocument::fromJson(lines.readLine()).object();
            if (line["status"] == "converted") {
                converted.insert(line["path"].toString().toStdString());
            }
        }
        EXPECT_EQ(listed, converted) << row.join(' ').toStdString();
        counts.push_back(converted.size());
    }
    // c, d, y's IMG and a-grayscale.jpg between the shards; then nothing left; then all but a.
    EXPECT_EQ(counts, (std::vector<std::size_t>{counts[0], 4 - counts[0], 0, 5}));
}

}  // namespace
