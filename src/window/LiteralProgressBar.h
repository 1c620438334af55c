#pragma once

#include <QProgressBar>

// A progress bar that shows its format text as it stands: a file name such as "100%p.png" is
// not taken for the bar's placeholders.
class LiteralProgressBar : public QProgressBar {
  public:
    using QProgressBar::QProgressBar;
    QString text() const override { return format(); }
};
