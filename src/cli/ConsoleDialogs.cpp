#include "cli/ConsoleDialogs.h"

Dialogs::Answer ConsoleDialogs::messageBox(const QString& text, Style style, const QString&,
                                           const QString&) {
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    std::fprintf(stream_, "%s\n", line.toLocal8Bit().constData());
    return style == Style::YesNo ? Answer::No : Answer::Ok;
}
