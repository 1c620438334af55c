#pragma once

#include "base/Dialogs.h"

// Dialogs for benchmarks of the real window: every box answered OK at once, and counted.
struct QuietDialogs : Dialogs {
    bool done = false;  // "Done." was shown
    int reports = 0;    // any other box
    Answer messageBox(const QString& text, Style, const QString&, const QString&) override {
        done = done || text == QLatin1String("Done.");
        reports += text != QLatin1String("Done.");
        return Answer::Ok;
    }
    QString openFiles(const OpenFilesRequest&) override { return {}; }
    QString inputBox(const QString&, const QString&, const QString&) override { return {}; }
    QString browseForFolder(const QString&, const QString&) override { return {}; }
    void openUrl(const QUrl&) override {}
    int drawOneToHundred() override { return 1; }
};
