#pragma once

#include "base/Dialogs.h"

#include <cstdio>

// Dialogs for the command line: messages go to a stream (standard error), and every question
// is answered as cancelled, since nobody is there to answer.
class ConsoleDialogs : public Dialogs {
  public:
    explicit ConsoleDialogs(std::FILE* stream = stderr) : stream_(stream) {}

    Answer messageBox(const QString& text, Style style, const QString& title,
                      const QString& note) override;
    QString openFiles(const OpenFilesRequest&) override { return {}; }
    QString inputBox(const QString&, const QString&, const QString&) override { return {}; }
    QString browseForFolder(const QString&, const QString&) override { return {}; }
    void openUrl(const QUrl&) override {}
    int drawOneToHundred() override { return 1; }

  private:
    std::FILE* stream_;
};
