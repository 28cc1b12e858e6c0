#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <type_traits>
#include <utility>

namespace tessaly {

// How worker threads reach a window: widgets are touched on their own thread only.

// Runs fn on the thread of context and returns at once. Dropped when context is
// destroyed before the call is delivered.
template <typename Fn>
void postToGui(QObject* context, Fn&& fn)
{
    QMetaObject::invokeMethod(context, std::forward<Fn>(fn), Qt::QueuedConnection);
}

// Runs fn on the thread of context and waits for its result; runs it directly when the
// caller is on that thread already. That thread must not be waiting for the caller:
// it has to keep its event loop running while a worker may call here.
template <typename Fn>
auto callOnGui(QObject* context, Fn&& fn) -> std::invoke_result_t<Fn>
{
    using Result = std::invoke_result_t<Fn>;
    if (QThread::currentThread() == context->thread()) {
        return fn();
    }
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(context, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(context, std::forward<Fn>(fn), Qt::BlockingQueuedConnection,
                                  &result);
        return result;
    }
}

}  // namespace tessaly
