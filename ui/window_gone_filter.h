#pragma once

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace tessaly {

// Tells when the X11 window of a widget is destroyed from outside the program (a
// window manager's or a tool's "close" that destroys the window instead of asking
// it to close). The toolkit keeps such a widget "visible" with no window on the
// screen; whoever watches can end the program as its own Exit does.
class WindowGoneFilter : public QAbstractNativeEventFilter
{
public:
    // gone runs on the GUI thread, once, when the native window of widget goes.
    WindowGoneFilter(QWidget* widget, std::function<void()> gone);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    QPointer<QWidget> m_widget;
    std::function<void()> m_gone;
    bool m_reported = false;
};

// The window a DestroyNotify event of the X11 protocol names, or 0 when event (32
// bytes as the server sent them) is another kind of event.
quint32 destroyedWindowOf(const void* event);

}  // namespace tessaly
