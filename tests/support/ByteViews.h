#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <span>

// The bytes of a QByteArray as the engine's readers take them; the view borrows, so the array
// must outlive it.
inline std::span<const std::uint8_t> BytesOf(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())};
}

// A file dialog's answer written readably: each '|' stands for the NUL that separates its names.
inline QString WithNuls(const char* text) {
    return QString::fromUtf8(text).replace('|', QChar(0));
}
