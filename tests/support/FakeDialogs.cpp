#include "support/FakeDialogs.h"

Dialogs::Answer FakeDialogs::messageBox(const QString& text, Style style, const QString& title,
                                        const QString& note) {
    messages.append({text, style, title, note});
    if (style != Style::YesNo) {
        return Answer::Ok;
    }
    return answers.isEmpty() ? Answer::No : answers.dequeue();
}

QString FakeDialogs::openFiles(const OpenFilesRequest& request) {
    fileRequests.append(request);
    if (beforeFileAnswer) {
        beforeFileAnswer();
    }
    return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
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
