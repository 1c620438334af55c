#pragma once

#include "base/Dialogs.h"

#include <QList>
#include <QQueue>

#include <functional>

// Dialogs for tests: answers come from queues the test fills, and everything shown is recorded.
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

    Answer messageBox(const QString& text, Style style, const QString& title,
                      const QString& note) override;
    QString openFiles(const OpenFilesRequest& request) override;
    QString inputBox(const QString& prompt, const QString& title,
                     const QString& defaultAnswer) override {
        inputs.append({prompt, title, defaultAnswer});
        return inputAnswers.isEmpty() ? QString() : inputAnswers.dequeue();
    }
    QString browseForFolder(const QString& prompt, const QString& startFolder) override {
        browses.append({prompt, QString(), startFolder});
        return folderAnswers.isEmpty() ? QString() : folderAnswers.dequeue();
    }
    void openUrl(const QUrl& url) override { openedUrls.append(url); }
    int drawOneToHundred() override { return draw; }

    // The texts of the error reports shown so far, in order.
    QStringList reports() const;
};
