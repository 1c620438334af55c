#include "base/QSettingsStore.h"
#include "base/RuntimeError.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class QSettingsStoreTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString file = dir.filePath("Kestrova.ini");
};

TEST_F(QSettingsStoreTest, AbsentKeysGiveTheDefault) {
    QSettingsStore store(file);
    EXPECT_EQ(store.read("Slider1", "85"), "85");
    EXPECT_EQ(store.read("LastFolder", ""), "");
}

TEST_F(QSettingsStoreTest, TextsRoundTripExactlyAndSurviveANewStore) {
    const QStringList texts = {
        "0",
        "200",
        "/home/ana/Desktop/",
        "C:\\out\\",
        " leading and trailing ",
        "a, b; c = d",
        "Bilder/Ünïcødé 写真/",
        "quote \" and # hash",
        "",
        "semi;colon",
        "%20 percent",
    };
    for (const QString& text : texts) {
        QSettingsStore(file).write("Output Folder", text);
        EXPECT_EQ(QSettingsStore(file).read("Output Folder", "default"), text)
            << text.toStdString();
    }
}

TEST_F(QSettingsStoreTest, KeysLiveInTheTonvalerSoftwareSection) {
    QSettingsStore(file).write("Slider2", "0");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray content = f.readAll();
    EXPECT_TRUE(content.contains("[Tonvaler%20Software]")) << content.constData();
    EXPECT_TRUE(content.contains("Slider2=0")) << content.constData();
}

TEST_F(QSettingsStoreTest, TheUserStoreIsNamedByTheApplicationName) {
    EXPECT_TRUE(QSettingsStore().filePath().endsWith("/Kestrova.ini"));
}

TEST_F(QSettingsStoreTest, AnUnwritableStoreRaisesAndKeepsNothing) {
    QFile blocker(dir.filePath("not-a-folder"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QSettingsStore store(dir.filePath("not-a-folder/Kestrova.ini"));
    try {
        store.write("Slider1", "10");
        FAIL() << "the write succeeded";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 75);
    }
    EXPECT_EQ(store.read("Slider1", "85"), "85");
}

TEST_F(QSettingsStoreTest, AGarbledFileKeepsTheKeysThatCanBeRead) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Tonvaler%20Software]\nSlider1=40\n\x01\x02garbage ]]] [[\n=novalue\nSlider3=90\n");
    f.close();
    QSettingsStore store(file);
    EXPECT_EQ(store.read("Slider1", "85"), "40");
    store.write("Slider2", "10");
    EXPECT_EQ(store.read("Slider1", "85"), "40");
    EXPECT_EQ(store.read("Slider2", "60"), "10");
}

}  // namespace
