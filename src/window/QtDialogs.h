#pragma once

#include "base/Dialogs.h"

class QFileDialog;
class QWidget;

// The dialogs as Qt shows them, modal and owned by the main window once setOwner has named it.
class QtDialogs : public Dialogs {
  public:
    void setOwner(QWidget* owner) { owner_ = owner; }

    Answer messageBox(const QString& text, Style style, const QString& title,
                      const QString& note) override;
    QString openFiles(const OpenFilesRequest& request) override;
    QString inputBox(const QString& prompt, const QString& title,
                     const QString& defaultAnswer) override;
    QString browseForFolder(const QString& prompt, const QString& startFolder) override;
    void openUrl(const QUrl& url) override;
    int drawOneToHundred() override;

    // Sets up `dialog` as `request` asks: title, mode and the filters, which show their display
    // texts and match their patterns as the open-file dialog of the original platform does
    // (letters without regard to case, "*.*" matching every name).
    static void configureFileDialog(QFileDialog& dialog, const OpenFilesRequest& request);

  private:
    QWidget* owner_ = nullptr;
};
