#include "window/CliCommandLine.h"

#include <QDir>
#include <QRegularExpression>

QString ShellQuoted(const QString& word) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
    if (plain.match(word).hasMatch()) {
        return word;
    }
    QString quoted = QStringLiteral("'");
    for (qsizetype i = 0; i < word.size(); ++i) {
        const char16_t u = word.at(i).unicode();
        if (u >= 0xDC80 && u <= 0xDCFF && !(i > 0 && word.at(i - 1).isHighSurrogate())) {
            // A byte of a name that is not UTF-8 (PathText) cannot go through the clipboard's
            // text as it is: printf writes it.
            quoted += QStringLiteral("'\"$(printf '\\%1')\"'").arg(u - 0xDC00, 3, 8);
        } else if (u == '\'') {
            quoted += QLatin1String("'\\''");
        } else {
            quoted += word.at(i);
        }
    }
    return quoted + QLatin1Char('\'');
}

namespace {
// Made absolute without being cleaned: "a/../b" must reach the same file through a link in "a".
QString Absolute(const QString& path) {
    return QDir::isAbsolutePath(path) ? path : QDir::currentPath() + QLatin1Char('/') + path;
}
}  // namespace

QString CliCommandLine(int quality, FilterThresholds thresholds, const QString& folder,
                       const QStringList& paths) {
    QStringList words{QStringLiteral("tonvaler-cli"),
                      QStringLiteral("--quality"),
                      QString::number(quality),
                      QStringLiteral("--black"),
                      QString::number(thresholds.black),
                      QStringLiteral("--gradient"),
                      QString::number(thresholds.gradient),
                      QStringLiteral("--gray"),
                      QString::number(thresholds.gray)};
    if (!folder.isEmpty()) {
        words << QStringLiteral("--output") << ShellQuoted(Absolute(folder));
    }
    words << QStringLiteral("--");  // a picture whose name begins with "-" is not an option
    for (const QString& path : paths) {
        words << ShellQuoted(Absolute(path));
    }
    return words.join(QLatin1Char(' '));
}
