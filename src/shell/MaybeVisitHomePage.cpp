#include "shell/MaybeVisitHomePage.h"

#include "shell/AppInfo.h"
#include "shell/Dialogs.h"

void MaybeVisitHomePage(Dialogs& dialogs) {
    if (dialogs.drawOneToHundred() == 7) {
        dialogs.openUrl(QUrl(QString::fromUtf8(AppInfo::HomePage)));
    }
}
