#pragma once

#include <QByteArray>
#include <QString>

// File names are bytes; the program's text is Unicode. Bytes of a name that are not UTF-8 (a
// name from an old camera card, "caf\xE9.jpg") are kept in the text as the code units U+DC80 to
// U+DCFF, one per byte, so that every name read from the system names the same file when it
// goes back to it. Every path that reaches a system call goes through PathBytes.

// The bytes of the file name that `text` stands for.
QByteArray PathBytes(const QString& text);
// The text of a file name's bytes.
QString PathText(const char* bytes);
QString PathText(const QByteArray& bytes);
