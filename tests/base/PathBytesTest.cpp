#include "base/PathBytes.h"

#include <gtest/gtest.h>

TEST(PathBytes, EveryNameGoesBackToItsOwnBytes) {
    const struct {
        QByteArray bytes;
        bool utf8;
    } cases[] = {
        {"photo.jpg", true},         {"caf\xC3\xA9.jpg", true}, {"\xF0\x9F\x98\x80.png", true},
        {"caf\xE9.jpg", false},       // Latin-1
        {"a\xFF\xFE", false},         // never UTF-8
        {"\xE2\x82.jpg", false},      // a sequence cut short
        {"\xC0\xAF", false},          // an overlong "/"
        {"\xED\xA0\x80", false},      // an encoded surrogate
        {"\xF4\x90\x80\x80", false},  // past U+10FFFF
    };
    for (const auto& c : cases) {
        const QString text = PathText(c.bytes);
        EXPECT_EQ(PathBytes(text), c.bytes) << c.bytes.toHex().constData();
        EXPECT_EQ(text == QString::fromUtf8(c.bytes), c.utf8) << c.bytes.toHex().constData();
    }
}
