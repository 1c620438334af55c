#pragma once

#include "base/Dialogs.h"

#include <QList>
#include <QQueue>

#include <functional>

// Dialogs for tests: answers come from queues the test fills, and everything shown is recorded.
//
// Like a real modal dialog, each one runs an event loop while it is "open", so that timers,
// queued calls and finished work arrive meanwhile: for `openMilliseconds` (0: the events already
// waiting), or until `openUntil` answers true. `whileOpen` runs inside that loop once per dialog.
class FakeDialogs : public Dialogs {
  public:
    struct Shown {
        QString text;
        Style style;
        QString title;
        QString note;
    };

    QList<Shown> messages;
    QQueue<Answer> answers;  // for Yes/No boxes; No when empty

    QList<OpenFilesRequest> fileRequests;
    // What the next open-file dialogs answer; "" (cancel) when empty. A hook can raise instead.
    QQueue<QString> fileAnswers;
    std::function<void()> beforeFileAnswer;

    struct Asked {
        QString prompt, title, defaultAnswer;
    };
    QList<Asked> inputs;
    QQueue<QString> inputAnswers;   // "" (cancel) when empty
    QList<Asked> browses;           // prompt and start folder (in defaultAnswer)
    QQueue<QString> folderAnswers;  // "" (cancel) when empty

    QList<QUrl> openedUrls;
    int draw = 1;

    int openMilliseconds = 0;
    std::function<bool()> openUntil;  // polled every millisecond; a minute at most
    std::function<void()> whileOpen;
    // The most dialogs that were open at once: 2 means one was opened inside another's loop.
    int mostOpenAtOnce = 0;

    Answer messageBox(const QString& text, Style style, const QString& title,
                      const QString& note) override;
    QString openFiles(const OpenFilesRequest& request) override;
    QString inputBox(const QString& prompt, const QString& title,
                     const QString& defaultAnswer) override;
    QString browseForFolder(const QString& prompt, const QString& startFolder) override;
    void openUrl(const QUrl& url) override { openedUrls.append(url); }
    int drawOneToHundred() override { return draw; }

    // The texts of the error reports shown so far, in order.
    QStringList reports() const;

  private:
    // The dialog's own event loop, until it is answered.
    void stayOpen();

    int open_ = 0;
};
