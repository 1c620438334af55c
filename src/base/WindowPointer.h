#pragma once

#include <QObject>

// The main window's pointer mode. The hourglass is the busy state: while it shows, the list's
// removal commands do nothing.
enum class PointerMode { Default = 0, Hourglass = 11, Custom = 99 };

class WindowPointer : public QObject {
    Q_OBJECT
  public:
    PointerMode mode() const { return mode_; }
    void setMode(PointerMode mode);
    bool IsBusy() const { return mode_ == PointerMode::Hourglass; }

  signals:
    void modeChanged(PointerMode mode);

  private:
    PointerMode mode_ = PointerMode::Default;
};
