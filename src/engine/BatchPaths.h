#pragma once

#include <QString>

// The path rules of the batch.

// The part of `path` after its last separator: the whole text when it has none, "" when it ends
// with one.
QString GetFileName(const QString& path);

// The output file's name for a source file name: everything before the last dot, then
// "-grayscale.jpg" ("my.holiday.photo.JPG" gives "my.holiday.photo-grayscale.jpg", "name." gives
// "name-grayscale.jpg", ".png" gives "-grayscale.jpg"). A name without a dot keeps all of
// itself: "README" gives "README-grayscale.jpg". `extension` replaces "jpg" for other formats.
QString OutputFileName(const QString& sourceFileName,
                       const QString& extension = QStringLiteral("jpg"));

// The output path: the output folder's text as it stands, the separator, the output name. A
// folder that ends in a separator gives a doubled one, which the file system reads as one.
QString OutputPath(const QString& outputFolder, const QString& sourcePath,
                   const QString& extension = QStringLiteral("jpg"));
