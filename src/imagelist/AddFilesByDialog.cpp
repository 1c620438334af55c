#include "imagelist/AddFilesByDialog.h"

#include "base/AppTitle.h"
#include "base/Dialogs.h"
#include "base/RuntimeError.h"
#include "base/Trap.h"
#include "base/TrapLabels.h"
#include "imagelist/CameraPictureNames.h"
#include "imagelist/CleanPath.h"
#include "imagelist/ImageList.h"

void PushButton1_Click(Dialogs& dialogs, ImageList& list) {
    Trap trap(dialogs, TrapLabel::PushButton1_Click);
    trap.divert(ErrorNumber::TooManyFilesSelected, [&] {
        dialogs.messageBox(QStringLiteral("You've selected too many files to add.\r\r"
                                          "Please try adding via the \"Add All\" button."),
                           Dialogs::Style::Plain, AppTitle());
    });
    Dialogs::OpenFilesRequest dialog;
    QString fileName;
    QStringList parts;
    QString path;
    qsizetype first = 0;
    qsizetype last = -1;

    trap.line(104, [&] { dialog.fileName.clear(); });
    trap.line(106, [&] { dialog.multiSelect = true; });
    trap.line(108, [&] {
        dialog.title = QStringLiteral("Add File(s) - Hold Ctrl or Shift to select multiple files");
    });
    trap.line(110, [&] {
        dialog.filters = {
            QStringLiteral("All Pictures (*.bmp;*.jpg;*.gif;*.png;*.ico;*.wmf)"),
            QStringLiteral("*.bmp;*.jpg;*.gif;*.png;*.ico;*.wmf"),
            QStringLiteral("Camera and Phone Pictures (") + kCameraPictureNames + QLatin1Char(')'),
            kCameraPictureNames,
            QStringLiteral("All Files (*.*)"),
            QStringLiteral("*.*"),
        };
    });
    trap.line(112, [&] { fileName = dialogs.openFiles(dialog); });
    if (trap.test(114, [&] { return fileName.isEmpty(); })) {
        return;
    }
    trap.line(116, [&] { parts = fileName.split(QChar(0)); });
    if (trap.test(118, [&] { return parts.size() == 1; })) {
        trap.line(120, [&] { path = parts.at(0); });
        // One file is added as the dialog gave it, without clean-up.
        trap.line(122, [&] { list.AddImagePath(path); });
        return;
    }
    trap.line(126, [&] { first = 1; });
    trap.line(128, [&] { last = parts.size() - 1; });
    // 134 to 142: for each part of the range, in order.
    for (qsizetype i = first; i <= last; ++i) {
        trap.line(136, [&] { path = JoinPath(parts.at(0), parts.at(i)); });
        trap.line(138, [&] { path = CleanPath(path); });
        trap.line(140, [&] { list.AddImagePath(path); });
    }
}
