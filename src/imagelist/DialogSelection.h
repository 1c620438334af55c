#pragma once

#include <QString>
#include <QStringList>

// The open-file dialog's answer for the files a user picked: "" for none, the full path for one,
// otherwise their folder followed, for each file, by a NUL character and its name relative to
// that folder (a bare name when all lie in one folder). Raises RuntimeError 20476 when the answer
// would be longer than `bufferLength` characters, as the dialog's buffer is.
QString JoinDialogSelection(const QStringList& absolutePaths, qsizetype bufferLength = 30000);
