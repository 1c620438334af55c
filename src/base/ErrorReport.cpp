#include "base/ErrorReport.h"

#include "base/AppInfo.h"
#include "base/Dialogs.h"

QString ErrorReportText(const QString& description, const char* label, int line) {
    return description + QStringLiteral("\r\n") + QString::fromUtf8(label) +
           QStringLiteral("at line ") + QString::number(line) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") +
           QString::fromUtf8(AppInfo::SupportEmail);
}

void ShowErrorReport(Dialogs& dialogs, const QString& description, const char* label, int line) {
    dialogs.messageBox(ErrorReportText(description, label, line), Dialogs::Style::Warning,
                       QStringLiteral("Application Error"));
}
