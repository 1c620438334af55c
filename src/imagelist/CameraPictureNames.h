#pragma once

#include <QString>

// The names that phones' and cameras' pictures go by, as a file dialog's filter lists them
// (matched in any case). A file's type is told from its content; the names serve the dialog, and
// guesses made before any file is read.
inline const QString kCameraPictureNames =
    QStringLiteral("*.heic;*.heif;*.avif;*.jxl;*.dng;*.cr2;*.cr3;*.nef;*.arw;*.raf;*.orf;*.rw2");
