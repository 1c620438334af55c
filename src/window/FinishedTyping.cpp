#include "window/FinishedTyping.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>

FinishedTyping::FinishedTyping(QLineEdit* field, const QWidget* chooser)
    : QObject(field), chooser_(chooser) {
    field->installEventFilter(this);
    connect(field, &QLineEdit::returnPressed, this, &FinishedTyping::finished);
}

bool FinishedTyping::eventFilter(QObject*, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        // The focus has already moved when the field hears of it. Tab leaves the field for the
        // chooser, which comes next: that is an end like any other; a click on it is not.
        const bool choosing = chooser_ != nullptr && QApplication::focusWidget() == chooser_ &&
                              reason == Qt::MouseFocusReason;
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason && !choosing) {
            emit finished();
        }
    }
    return false;
}
