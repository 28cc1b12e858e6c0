#include "ui/worker_group.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <system_error>

#include "platform/clock.h"

namespace tessaly {

WorkerGroup::WorkerGroup(QObject* context, QObject* parent) : QObject(parent), m_context(context)
{
}

WorkerGroup::~WorkerGroup()
{
    // A worker may be blocked on a call that only this thread could deliver; removing the
    // pending calls releases it. It may ask again before it sees its stop flag.
    while (m_running.load() != 0) {
        QCoreApplication::removePostedEvents(m_context);
        sleepMs(1);
    }
    for (auto& [id, thread] : m_threads) {
        thread.join();
    }
}

bool WorkerGroup::start(std::function<void()> work)
{
    Q_ASSERT(QThread::currentThread() == thread());
    const std::uint64_t id = m_nextId++;
    m_running.fetch_add(1);
    try {
        // The thread is in the map before its release can run: both happen on this thread.
        m_threads.emplace(id, std::thread([this, id, work = std::move(work)] {
                              work();
                              m_running.fetch_sub(1);
                              QMetaObject::invokeMethod(
                                  this, [this, id] { release(id); }, Qt::QueuedConnection);
                          }));
    } catch (const std::system_error&) {
        m_running.fetch_sub(1);
        return false;
    }
    m_count.fetch_add(1);
    return true;
}

void WorkerGroup::release(std::uint64_t id)
{
    const auto found = m_threads.find(id);
    if (found == m_threads.end()) {
        return;
    }
    found->second.join();
    m_threads.erase(found);
    if (m_count.fetch_sub(1) == 1) {
        emit emptied();
    }
}

}  // namespace tessaly
