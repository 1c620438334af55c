#pragma once

#include <QObject>

class QLineEdit;

// Tells when a person is done with a line edit: Enter, or the focus moving to another control
// of its window. Unlike QLineEdit::editingFinished, a box or another window taking the focus (a
// report that pops up while the person types) is not an end. Owned by the field.
class FinishedTyping : public QObject {
    Q_OBJECT
  public:
    explicit FinishedTyping(QLineEdit* field);

  signals:
    void finished();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
