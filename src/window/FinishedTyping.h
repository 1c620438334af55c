#pragma once

#include <QObject>

class QLineEdit;
class QWidget;

// Tells when a person is done with a line edit: Enter, or the focus moving to another control
// of its window. Unlike QLineEdit::editingFinished, a box or another window taking the focus (a
// report that pops up while the person types) is not an end, nor is a click on
// `chooser`, a button that offers the text a dialog's way (it ends the typing itself, if its
// dialog is answered); Tab onto it is. Owned by the field; `chooser` may be null.
class FinishedTyping : public QObject {
    Q_OBJECT
  public:
    FinishedTyping(QLineEdit* field, const QWidget* chooser);

  signals:
    void finished();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    const QWidget* chooser_;
};
