#include "base/RuntimeError.h"
#include "imagelist/DialogSelection.h"
#include "support/ByteViews.h"

#include <gtest/gtest.h>

namespace {

TEST(DialogSelection, JoinsTheChosenFilesAsTheDialogAnswers) {
    const struct {
        QStringList files;
        QString answer;
    } cases[] = {
        {{}, ""},
        {{"/pics/a.jpg"}, "/pics/a.jpg"},
        {{"/pics/a.jpg", "/pics/b.png", "/pics/c.gif"}, WithNuls("/pics|a.jpg|b.png|c.gif")},
        {{"/x.jpg", "/y.jpg"}, WithNuls("/|x.jpg|y.jpg")},
        {{"/pics/a.jpg", "/pics/sub/b.jpg"}, WithNuls("/pics|a.jpg|sub/b.jpg")},
        {{"/pics/a/1.jpg", "/pics/b/2.jpg"}, WithNuls("/pics|a/1.jpg|b/2.jpg")},
        {{"/pics/a.jpg", "/pics/a.jpg"}, WithNuls("/pics|a.jpg|a.jpg")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JoinDialogSelection(c.files), c.answer) << c.files.join(",").toStdString();
    }
}

TEST(DialogSelection, AnAnswerLongerThanTheBufferRaises20476) {
    QStringList files;
    const QString name = QString(95, 'n') + ".jpg";  // 99 characters and its NUL: 100 a file
    for (int i = 0; i < 299; ++i) {
        files.append("/p/" + name);
    }
    // "/p" and 299 names of 100 characters: 29,902 fit; one more does not.
    EXPECT_EQ(JoinDialogSelection(files).size(), 29902);
    files.append("/p/" + name);
    try {
        JoinDialogSelection(files);
        FAIL() << "no error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 20476);
    }
}

}  // namespace
