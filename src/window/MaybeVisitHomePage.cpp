#include "window/MaybeVisitHomePage.h"

#include "base/AppInfo.h"
#include "base/Dialogs.h"

void MaybeVisitHomePage(Dialogs& dialogs) {
    if (dialogs.drawOneToHundred() == 7) {
        dialogs.openUrl(QUrl(QString::fromUtf8(AppInfo::HomePage)));
    }
}
