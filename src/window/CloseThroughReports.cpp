#include "window/CloseThroughReports.h"

#include <QApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

std::uint32_t atom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 1, std::uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const std::uint32_t value = reply ? reply->atom : 0;
    std::free(reply);
    return value;
}

}  // namespace

CloseThroughReports::CloseThroughReports(QWidget& window) : window_(&window) {
    // Offered on every platform, with no connection but on X (Wayland, offscreen).
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 != nullptr && x11->connection() != nullptr) {
        protocols_ = atom(x11->connection(), "WM_PROTOCOLS");
        deleteWindow_ = atom(x11->connection(), "WM_DELETE_WINDOW");
    }
}

bool CloseThroughReports::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (protocols_ == 0 || eventType != "xcb_generic_event_t" || !window_) {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_CLIENT_MESSAGE) {
        return false;
    }
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    if (client->type != protocols_ || client->data.data32[0] != deleteWindow_ ||
        client->window != window_->winId() || QApplication::activeModalWidget() == nullptr) {
        return false;  // Qt's own way, which closes an unblocked window
    }
    // Closed from the event loop, not inside the native dispatch.
    QMetaObject::invokeMethod(window_, &QWidget::close, Qt::QueuedConnection);
    return true;
}
