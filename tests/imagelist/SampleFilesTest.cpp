#include "base/AppTitle.h"
#include "base/QSettingsStore.h"
#include "base/WindowPointer.h"
#include "imagelist/AddFolder.h"
#include "imagelist/ImageList.h"
#include "imagelist/SampleFiles.h"
#include "support/FakeDialogs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

TEST(ScrambleText, RoundTripsEveryCodeAndKeepsTheLength) {
    QByteArray all;
    for (int c = 1; c <= 255; ++c) all += char(c);
    const QString plain = QString::fromLatin1(all);
    int yields = 0;
    const auto yield = [&] {
        ++yields;
        return true;
    };
    // As Latin-1 text the codes 128 to 255 are two UTF-8 bytes each.
    const QString scrambled = ScrambleText(plain, kSampleKey, yield);
    EXPECT_EQ(scrambled.size(), plain.toUtf8().size());
    EXPECT_EQ(yields, scrambled.size());
    for (QChar ch : scrambled) {
        EXPECT_GE(ch.unicode(), 1);
        EXPECT_LE(ch.unicode(), 255);
    }
    EXPECT_EQ(UnscrambleText(scrambled, kSampleKey, {}), plain);
    const QString path = QString::fromUtf8("/home/ana/Bilder/写真 Ünïcødé/a|b.png");
    EXPECT_EQ(UnscrambleText(ScrambleText(path, kSampleKey, {}), kSampleKey, {}), path);
    EXPECT_EQ(ScrambleText("", kSampleKey, {}), "");
}

TEST(ScrambleText, TheStoredFormSurvivesTheSettingsStore) {
    QTemporaryDir dir;
    QByteArray all;
    for (int c = 1; c <= 255; ++c) all += char(c);
    const QString scrambled = ScrambleText(QString::fromLatin1(all), kSampleKey, {});
    QSettingsStore(dir.filePath("Kestrova.ini")).write("Snapshot", scrambled);
    EXPECT_EQ(QSettingsStore(dir.filePath("Kestrova.ini")).read("Snapshot", ""), scrambled);
}

class SampleFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetAppTitle();
        QDir().mkpath(samples);
        for (const char* name : {"rocket.jpg", "astronaut.png", "coffee.png"}) add(name);
    }
    void add(const char* name) { QFile(samples + "/" + name).open(QIODevice::WriteOnly); }

    QTemporaryDir dir;
    QString program = dir.filePath("program");
    QString samples = dir.filePath("program/Samples");
    FakeDialogs dialogs;
    QSettingsStore settings{dir.filePath("Kestrova.ini")};
    WindowPointer pointer;
    ImageList list{pointer};
    FolderScan scan{dialogs, {}};

    void record() { RecordSamples(settings, scan, SamplesFolder(program), {}); }
    void load() { LoadSamples(list, settings, dialogs, SamplesFolder(program), {}); }
    QStringList rows() const {
        QStringList r;
        for (int i = 1; i <= list.RowCount(); ++i) r.append(list.RowText(i));
        return r;
    }
    QStringList questions() const {
        QStringList q;
        for (const auto& m : dialogs.messages) {
            EXPECT_EQ(m.style, Dialogs::Style::YesNo);
            EXPECT_EQ(m.title, "Tonvaler");
            q.append(m.text);
        }
        return q;
    }
};

TEST_F(SampleFilesTest, TheRecordedSamplesAreAddedInOrderAndTheQuestionAsked) {
    record();
    EXPECT_EQ(UnscrambleText(settings.read("Snapshot", ""), kSampleKey, {}),
              samples + "/astronaut.png|" + samples + "/coffee.png|" + samples + "/rocket.jpg");
    load();
    EXPECT_EQ(rows(), QStringList({samples + "/astronaut.png", samples + "/coffee.png",
                                   samples + "/rocket.jpg"}));
    EXPECT_EQ(questions(),
              QStringList{"Would you like this software to open the folder where these sample "
                          "files are stored (so that you can view them before working with "
                          "them)?"});
    EXPECT_TRUE(dialogs.openedUrls.isEmpty());  // answered No
}

TEST_F(SampleFilesTest, ASecondPressAddsNothingAndAsksAgain) {
    record();
    load();
    load();
    EXPECT_EQ(list.RowCount(), 3);
    EXPECT_EQ(questions().size(), 2);
}

TEST_F(SampleFilesTest, OnlyTheRecordCountsAndVanishedSamplesAreSkipped) {
    record();
    add("later.png");
    QFile::remove(samples + "/coffee.png");
    load();
    EXPECT_EQ(rows(), QStringList({samples + "/astronaut.png", samples + "/rocket.jpg"}));
    EXPECT_EQ(questions().size(), 1);
}

TEST_F(SampleFilesTest, TheSamePathInAnotherCaseIsAddedAgain) {
    record();
    list.AddImagePath(samples + "/astronaut.png");
    list.AddImagePath(samples + "/COFFEE.png");
    load();
    EXPECT_EQ(rows(), QStringList({samples + "/astronaut.png", samples + "/COFFEE.png",
                                   samples + "/coffee.png", samples + "/rocket.jpg"}));
}

TEST_F(SampleFilesTest, WithoutASamplesFolderTheRecordIsEmptyAndTheQuestionStillAsked) {
    QDir(samples).removeRecursively();
    record();
    EXPECT_EQ(settings.read("Snapshot", "absent"), "");
    load();
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_EQ(questions().size(), 1);
}

TEST_F(SampleFilesTest, AnAbsentRecordAddsNothing) {
    load();
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_EQ(questions().size(), 1);
}

TEST_F(SampleFilesTest, YesOpensTheSamplesFolder) {
    record();
    dialogs.answers.enqueue(Dialogs::Answer::Yes);
    load();
    EXPECT_EQ(dialogs.openedUrls, QList<QUrl>{QUrl::fromLocalFile(samples + "/")});
}

TEST_F(SampleFilesTest, AnInstalledProgramFindsItsSamplesBesideItsBinFolder) {
    QDir().mkpath(dir.filePath("prefix/bin"));
    QDir().mkpath(dir.filePath("prefix/share/tonvaler/Samples"));
    EXPECT_EQ(SamplesFolder(dir.filePath("prefix/bin")),
              dir.filePath("prefix/share/tonvaler/Samples"));
    EXPECT_EQ(SamplesFolder(program), samples);  // beside the program comes first
}

}  // namespace
