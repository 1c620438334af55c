#pragma once

// What each of the program's modules gives the engine (ProgramModule.h): the module named in each
// struct's comment fills it. The program and its modules are built together, so these are plain
// C++ functions.

#include "engine/formats/CaptureData.h"
#include "engine/formats/PictureFormat.h"
#include "filter/PixelImage.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <span>

// "heif", "jxl", "raw": the kind's module, whose object lives as long as the process.
struct FormatModuleEntries {
    const PictureFormat* format;
};

// "exiv2": CaptureDataFor.
struct Exiv2ModuleEntries {
    CaptureData (*captureDataFor)(std::span<const std::uint8_t> source, int width, int height);
};

// "qt": Qt's image readers and its PNG writer, with Qt's GUI library under them.
struct QtModuleEntries {
    // QtReadFormat::decode, with the reader `readerName` (empty: chosen by content).
    BgrxImage (*decode)(std::span<const std::uint8_t> bytes, const PictureProbe& probe,
                        const QString& path, const QByteArray& readerName);
    // QtReads.
    bool (*reads)(std::span<const std::uint8_t> head);
    // The grey picture as Qt's PNG writer writes it; empty when it cannot.
    QByteArray (*greyPng)(const GreyImage& grey);
};
