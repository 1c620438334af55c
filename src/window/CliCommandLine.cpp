#include "window/CliCommandLine.h"

#include <QDir>
#include <QRegularExpression>

QString ShellQuoted(const QString& word) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
    if (plain.match(word).hasMatch()) {
        return word;
    }
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
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
