#include "base/PathBytes.h"

namespace {

constexpr char16_t kEscape = 0xDC00;

// The length of the UTF-8 sequence that starts at `s`, or 0 when it is not a valid one.
int validSequence(const unsigned char* s, qsizetype left) {
    const unsigned char b = s[0];
    int length = 0;
    char32_t least = 0;
    if (b < 0x80) {
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        least = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        least = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        least = 0x10000;
    } else {
        return 0;
    }
    if (left < length) {
        return 0;
    }
    char32_t code = b & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        if ((s[k] & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (s[k] & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code >= least && code <= 0x10FFFF && !surrogate ? length : 0;
}

}  // namespace

QString PathText(const QByteArray& bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype size = bytes.size();
    QString text;
    qsizetype run = 0;  // start of the valid bytes not yet decoded
    qsizetype at = 0;
    while (at < size) {
        const int length = validSequence(s + at, size - at);
        if (length > 0) {
            at += length;
            continue;
        }
        text += QString::fromUtf8(bytes.constData() + run, at - run);
        text += QChar(static_cast<char16_t>(kEscape | s[at]));
        run = ++at;
    }
    return run == 0 ? QString::fromUtf8(bytes)
                    : text + QString::fromUtf8(bytes.constData() + run, size - run);
}

QString PathText(const char* bytes) {
    return PathText(QByteArray(bytes));
}

QByteArray PathBytes(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    qsizetype run = 0;  // start of the text not yet written
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        const bool paired = i > 0 && text.at(i - 1).isHighSurrogate();
        if (u >= 0xDC80 && u <= 0xDCFF && !paired) {
            bytes += text.mid(run, i - run).toUtf8();
            bytes += static_cast<char>(u & 0xFF);
            run = i + 1;
        }
    }
    bytes += text.mid(run).toUtf8();
    return bytes;
}
