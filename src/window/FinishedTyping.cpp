#include "window/FinishedTyping.h"

#include <QFocusEvent>
#include <QLineEdit>

FinishedTyping::FinishedTyping(QLineEdit* field) : QObject(field) {
    field->installEventFilter(this);
    connect(field, &QLineEdit::returnPressed, this, &FinishedTyping::finished);
}

bool FinishedTyping::eventFilter(QObject*, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            emit finished();
        }
    }
    return false;
}
