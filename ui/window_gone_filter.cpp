#include "ui/window_gone_filter.h"

#include <cstring>
#include <utility>

namespace tessaly {

namespace {

// The X11 protocol's DestroyNotify: the event code, then (at byte 8) the window
// that was destroyed. The top bit of the code marks an event sent by a client.
constexpr quint8 kDestroyNotify = 17;
constexpr std::size_t kDestroyedWindowAt = 8;

}  // namespace

quint32 destroyedWindowOf(const void* event)
{
    const auto* bytes = static_cast<const unsigned char*>(event);
    if ((bytes[0] & 0x7F) != kDestroyNotify) {
        return 0;
    }
    quint32 window = 0;
    std::memcpy(&window, bytes + kDestroyedWindowAt, sizeof window);  // in the client's byte order
    return window;
}

WindowGoneFilter::WindowGoneFilter(QWidget* widget, std::function<void()> gone)
    : m_widget(widget), m_gone(std::move(gone))
{
}

bool WindowGoneFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (m_reported || m_widget.isNull() || eventType != "xcb_generic_event_t" ||
        !m_widget->testAttribute(Qt::WA_WState_Created)) {
        return false;
    }
    const quint32 window = destroyedWindowOf(message);
    if (window == 0 || window != static_cast<quint32>(m_widget->winId())) {
        return false;
    }
    m_reported = true;
    m_gone();
    return false;
}

}  // namespace tessaly
