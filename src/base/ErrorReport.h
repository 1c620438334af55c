#pragma once

#include <QString>

class Dialogs;

// The text of the common error report: the description, CR LF, the location label, "at line ",
// the line number, two lone CRs, and the request to e-mail a screenshot to support.
QString ErrorReportText(const QString& description, const char* label, int line);

// Shows the error report (title "Application Error", warning icon, OK) and returns when the user
// has closed it.
void ShowErrorReport(Dialogs& dialogs, const QString& description, const char* label, int line);
