#include "ui/worker_group.h"

#include <QMetaObject>
#include <QThread>

#include <system_error>

#include "platform/clock.h"

namespace tessaly {

WorkerGroup::~WorkerGroup()
{
    // A worker may be waiting for a call that only this thread could run; dropping the
    // calls releases it. It may hand over more before it sees its stop flag.
    while (m_running.load() != 0) {
        dropInbox();
        sleepMs(1);
    }
    for (auto& [id, thread] : m_threads) {
        thread.join();
    }
    dropInbox();
}

bool WorkerGroup::start(std::function<void()> work)
{
    Q_ASSERT(onOwnThread());
    const std::uint64_t id = m_nextId++;
    m_running.fetch_add(1);
    try {
        // The thread is in the map before its release can run: both happen on this thread.
        m_threads.emplace(id, std::thread([this, id, work = std::move(work)] {
                              work();
                              post([this, id] { release(id); });
                              m_running.fetch_sub(1);
                          }));
    } catch (const std::system_error&) {
        m_running.fetch_sub(1);
        return false;
    }
    m_count.fetch_add(1);
    return true;
}

void WorkerGroup::post(std::function<void()> fn)
{
    {
        std::lock_guard lock(m_inboxMutex);
        m_inbox.push_back(std::move(fn));
    }
    if (!m_wakePending.exchange(true)) {
        QMetaObject::invokeMethod(this, "runInbox", Qt::QueuedConnection);
    }
}

void WorkerGroup::runInbox()
{
    m_wakePending.store(false);
    for (;;) {
        std::function<void()> next;
        {
            std::lock_guard lock(m_inboxMutex);
            if (m_inbox.empty()) {
                return;
            }
            next = std::move(m_inbox.front());
            m_inbox.pop_front();
        }
        next();
    }
}

void WorkerGroup::dropInbox()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_inboxMutex);
        dropped.swap(m_inbox);
    }
}

bool WorkerGroup::onOwnThread() const
{
    return QThread::currentThread() == thread();
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
