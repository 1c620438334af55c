// The window's batch as a command for a script or a server.
#include "imagelist/ImageList.h"
#include "window/CliCommandLine.h"
#include "window/Form1.h"

#include <QClipboard>
#include <QGuiApplication>

void Form1::copyCommandLine() {
    // 1. The rows of the list in their order: what Start would convert.
    QStringList paths;
    for (int position = 1; position <= imageList_->RowCount(); ++position) {  // counted from 1
        paths << imageList_->RowText(position);
    }
    // 2. The values and the folder in force, as the batch would read them now.
    const QString command = CliCommandLine(quality(), thresholds(), outputFolder(), paths);
    // 3. Onto the clipboard.
    QGuiApplication::clipboard()->setText(command);
}
