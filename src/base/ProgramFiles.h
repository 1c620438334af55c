#pragma once

#include <QString>

// A file or folder that ships with the program, `name` relative to where it lies: beside the
// executable (a build folder, or the program laid out in one folder), else, for an installed
// program whose executable sits in bin, in share/tonvaler beside bin. When neither exists, the
// path beside the executable. `programFolder` is the executable's folder, without a final
// separator.
QString ProgramFile(const QString& programFolder, const QString& name);
