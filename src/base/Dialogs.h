#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// Every modal interaction of the window goes through this seam: tests script the answers and
// record what was shown; the real one (QtDialogs) shows Qt dialogs owned by the main window.
// Calls block until the user has answered. Implementations may raise RuntimeError.
class Dialogs {
  public:
    // The message box styles the program uses, with the classic style values.
    enum class Style { Plain = 0, Warning = 48, YesNo = 4 };
    enum class Answer { Ok, Yes, No };

    // What the open-file dialog is set up with before it is shown.
    struct OpenFilesRequest {
        QString fileName;  // preset name; "" so that a cancelled dialog answers ""
        bool multiSelect = false;
        QString title;
        // Pairs of display text and patterns ("*.bmp;*.jpg"), the first in force on opening.
        QStringList filters;
    };

    virtual ~Dialogs() = default;

    // `note`, when given, stands below the text in smaller print; the text stays as given.
    virtual Answer messageBox(const QString& text, Style style, const QString& title,
                              const QString& note = QString()) = 0;

    // The open-file dialog. Answers "" when cancelled, one full path for one file, or the folder
    // followed, for each file, by a NUL character and its bare name. Raises RuntimeError 20476
    // when that answer would not fit the dialog's buffer of 30,000 characters.
    virtual QString openFiles(const OpenFilesRequest& request) = 0;

    // The input box: `prompt` (lines broken by lone CRs) above a one-line answer that starts as
    // `defaultAnswer`. Answers "" when cancelled.
    virtual QString inputBox(const QString& prompt, const QString& title,
                             const QString& defaultAnswer) = 0;

    // The folder browser, modal over the main window, `prompt` shown above the folders: only
    // folders of the file system can be chosen. Opens on `startFolder` when it is an existing
    // folder (otherwise where it likes, without a word). Answers the chosen folder's absolute
    // path, the root keeping its one separator and no other folder ending in one, or "" when
    // cancelled.
    virtual QString browseForFolder(const QString& prompt, const QString& startFolder) = 0;

    // Opens an address or a folder for the user; the outcome is not reported.
    virtual void openUrl(const QUrl& url) = 0;

    // A number from 1 to 100, each equally likely: the draw that decides whether a start
    // visits the home page.
    virtual int drawOneToHundred() = 0;
};
