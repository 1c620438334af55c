#include "window/QtDialogs.h"

#include "imagelist/DialogSelection.h"
#include "window/PointerOverride.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QVBoxLayout>

#include <optional>

namespace {

// Room for a window manager's title bar buttons (close, maximise, minimise) and menu icon.
constexpr int kFrameButtons = 160;

// The report texts break lines with CR LF and lone CRs; Qt's labels break only at LF.
QString forDisplay(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

QStringList patternsOf(const QString& patternList) {
    QStringList patterns;
    for (const QString& p : patternList.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (p == QLatin1String("*.*")) {
            patterns.append(QStringLiteral("*"));  // every name, with or without a dot
        } else if (p.compare(QLatin1String("*.jpg"), Qt::CaseInsensitive) == 0) {
            // The other names of JPEG files, which *.jpg matched through their short names on
            // the platform the filter texts come from.
            patterns << p << QStringLiteral("*.jpeg") << QStringLiteral("*.jpe");
        } else {
            patterns.append(p);
        }
    }
    return patterns;
}

// The arrow over a dialog while it is shown: the main window's hourglass, which covers the whole
// program while it is busy, is no answer to a question.
class ArrowWhileShown {
  public:
    ArrowWhileShown() {
        if (PointerOverride::any()) {
            arrow_.emplace(Qt::ArrowCursor);
        }
    }

  private:
    std::optional<PointerOverride> arrow_;
};

}  // namespace

Dialogs::Answer QtDialogs::messageBox(const QString& text, Style style, const QString& title,
                                      const QString& note) {
    QMessageBox box(owner_);
    box.setWindowTitle(title);
    box.setText(forDisplay(text));
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(note);
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
    // The window manager writes the title in the frame, beside its own buttons: a box as narrow
    // as its text ("Done.") would cut the title off.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const int titleRoom = box.fontMetrics().horizontalAdvance(title) * 3 / 2 + kFrameButtons;
        grid->addItem(new QSpacerItem(titleRoom, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    const ArrowWhileShown arrow;
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
    const ArrowWhileShown arrow;
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return JoinDialogSelection(dialog.selectedFiles());
}

QString QtDialogs::inputBox(const QString& prompt, const QString& title,
                            const QString& defaultAnswer) {
    bool ok = false;
    const ArrowWhileShown arrow;
    const QString answer = QInputDialog::getText(owner_, title, forDisplay(prompt),
                                                 QLineEdit::Normal, defaultAnswer, &ok);
    return ok ? answer : QString();
}

QString QtDialogs::browseForFolder(const QString& prompt, const QString& startFolder) {
    // The prompt above a file dialog that shows folders only, embedded as a widget.
    QDialog dialog(owner_);
    dialog.setWindowTitle(prompt);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(prompt, &dialog));
    auto* folders = new QFileDialog(&dialog);
    folders->setWindowFlags(Qt::Widget);
    folders->setOption(QFileDialog::DontUseNativeDialog);
    folders->setOption(QFileDialog::ShowDirsOnly);
    folders->setFileMode(QFileDialog::Directory);
    const QFileInfo start(startFolder);
    if (!startFolder.isEmpty() && start.isDir()) {
        // Open beside the start folder with it chosen, so that confirming at once answers it.
        if (start.isRoot()) {
            folders->setDirectory(start.absoluteFilePath());
        } else {
            folders->setDirectory(start.absoluteDir());
            folders->selectFile(start.fileName());
        }
    }
    layout->addWidget(folders);
    QObject::connect(folders, &QFileDialog::finished, &dialog, &QDialog::done);
    const ArrowWhileShown arrow;
    if (dialog.exec() != QDialog::Accepted || folders->selectedFiles().isEmpty()) {
        return {};
    }
    const QFileInfo chosen(folders->selectedFiles().first());
    return chosen.isDir() ? QDir::cleanPath(chosen.absoluteFilePath()) : QString();
}

void QtDialogs::openUrl(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

int QtDialogs::drawOneToHundred() {
    return QRandomGenerator::global()->bounded(1, 101);
}
