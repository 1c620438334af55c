#include "shell/QtDialogs.h"

#include "imagelist/DialogSelection.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QRandomGenerator>

namespace {

// The report texts break lines with CR LF and lone CRs; Qt's labels break only at LF.
QString forDisplay(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

QStringList patternsOf(const QString& patternList) {
    QStringList patterns = patternList.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& p : patterns) {
        if (p == QLatin1String("*.*")) {
            p = QStringLiteral("*");  // every name, with or without a dot
        }
    }
    return patterns;
}

}  // namespace

Dialogs::Answer QtDialogs::messageBox(const QString& text, Style style, const QString& title) {
    QMessageBox box(owner_);
    box.setWindowTitle(title);
    box.setText(forDisplay(text));
    box.setTextFormat(Qt::PlainText);
    switch (style) {
        case Style::Plain:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case Style::Warning:
            box.setIcon(QMessageBox::Warning);
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case Style::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
    }
    const int answer = box.exec();
    if (style != Style::YesNo) {
        return Answer::Ok;
    }
    return answer == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void QtDialogs::configureFileDialog(QFileDialog& dialog, const OpenFilesRequest& request) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setWindowTitle(request.title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.multiSelect ? QFileDialog::ExistingFiles
                                           : QFileDialog::ExistingFile);
    QStringList displays;
    QList<QStringList> patterns;
    for (qsizetype i = 0; i + 1 < request.filters.size(); i += 2) {
        displays.append(request.filters.at(i));
        patterns.append(patternsOf(request.filters.at(i + 1)));
    }
    dialog.setNameFilters(displays);
    if (!request.fileName.isEmpty()) {
        dialog.selectFile(request.fileName);
    }
    // Qt reads a filter's patterns from its display text, split at blanks; the texts here list
    // them with ";". Give the file model the real patterns whenever a filter comes into force.
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (model == nullptr || patterns.isEmpty()) {
        return;
    }
    const auto apply = [model, displays, patterns](const QString& display) {
        const qsizetype i = displays.indexOf(display);
        if (i >= 0) {
            model->setNameFilters(patterns.at(i));
        }
    };
    apply(displays.first());
    QObject::connect(&dialog, &QFileDialog::filterSelected, model, apply);
}

QString QtDialogs::openFiles(const OpenFilesRequest& request) {
    QFileDialog dialog(owner_);
    configureFileDialog(dialog, request);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return JoinDialogSelection(dialog.selectedFiles());
}

void QtDialogs::openUrl(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

int QtDialogs::drawOneToHundred() {
    return QRandomGenerator::global()->bounded(1, 101);
}
