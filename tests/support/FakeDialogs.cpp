#include "support/FakeDialogs.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

void FakeDialogs::stayOpen() {
    ++open_;
    mostOpenAtOnce = std::max(mostOpenAtOnce, open_);
    QEventLoop loop;
    if (whileOpen) {
        QTimer::singleShot(0, &loop, [this] { whileOpen(); });
    }
    QTimer poll;
    QElapsedTimer clock;
    if (openUntil) {
        clock.start();
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (openUntil() || clock.elapsed() > 60000) {
                loop.quit();
            }
        });
        poll.start(1);
    } else {
        QTimer::singleShot(openMilliseconds, &loop, &QEventLoop::quit);
    }
    loop.exec();
    --open_;
}

Dialogs::Answer FakeDialogs::messageBox(const QString& text, Style style, const QString& title,
                                        const QString& note) {
    messages.append({text, style, title, note});
    stayOpen();
    if (style != Style::YesNo) {
        return Answer::Ok;
    }
    return answers.isEmpty() ? Answer::No : answers.dequeue();
}

QString FakeDialogs::openFiles(const OpenFilesRequest& request) {
    fileRequests.append(request);
    stayOpen();
    if (beforeFileAnswer) {
        beforeFileAnswer();
    }
    return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
}

QString FakeDialogs::inputBox(const QString& prompt, const QString& title,
                              const QString& defaultAnswer) {
    inputs.append({prompt, title, defaultAnswer});
    stayOpen();
    return inputAnswers.isEmpty() ? QString() : inputAnswers.dequeue();
}

QString FakeDialogs::browseForFolder(const QString& prompt, const QString& startFolder) {
    browses.append({prompt, QString(), startFolder});
    stayOpen();
    return folderAnswers.isEmpty() ? QString() : folderAnswers.dequeue();
}

QStringList FakeDialogs::reports() const {
    QStringList texts;
    for (const Shown& m : messages) {
        if (m.title == QLatin1String("Application Error")) {
            texts.append(m.text);
        }
    }
    return texts;
}
