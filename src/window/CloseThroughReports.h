#pragma once

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QWidget>

#include <cstdint>

// The window manager's close button on the main window while a report or another modal box is
// open: Qt drops that request for a window a modal box blocks, so a cascade of reports could only
// be left by answering each. This closes the window instead, as when nothing is open.
//
// X11 only (elsewhere it does nothing). Install it on the application once the window exists;
// it keeps a guarded pointer to the window and does nothing once the window is gone.
class CloseThroughReports : public QAbstractNativeEventFilter {
  public:
    explicit CloseThroughReports(QWidget& window);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    QPointer<QWidget> window_;
    std::uint32_t protocols_ = 0;  // the atoms WM_PROTOCOLS and WM_DELETE_WINDOW, 0 off X11
    std::uint32_t deleteWindow_ = 0;
};
