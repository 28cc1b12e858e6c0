#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <thread>
#include <utility>

#include "ui/gui_thread.h"

namespace tessaly {

// The threads that work for a window. Each runs one function and is counted from
// start() until its thread has ended and been joined on the group's thread, which
// happens as soon as it ends; the group then says when it has become empty. What a
// worker hands to the window goes to the context on the context's thread: results
// posted before a worker ends arrive before the group counts it gone.
//
// A window waits for its group by the event loop (its close is refused until the group
// is empty), so that a worker waiting for an answer gets it.
class WorkerGroup : public QObject
{
    Q_OBJECT
public:
    // The group lives on the context's thread, which is the one that starts workers.
    explicit WorkerGroup(QObject* context, QObject* parent = nullptr);
    // The owner lets the group empty first. A worker left over is waited for here without
    // running the event loop: its pending calls to the context are dropped, so one waiting
    // for an answer goes on without it (a blocking call returns its type's default value).
    ~WorkerGroup() override;
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;

    // Runs work on a thread of its own. False (and nothing counted) when the system
    // gives no thread.
    bool start(std::function<void()> work);
    // Workers started and not yet joined; from any thread.
    int count() const { return m_count.load(); }
    bool empty() const { return count() == 0; }

    // Runs fn on the context's thread and returns at once; from any thread.
    template <typename Fn>
    void post(Fn&& fn)
    {
        postToGui(m_context, std::forward<Fn>(fn));
    }
    // Runs fn on the context's thread and waits for its result; from a worker.
    template <typename Fn>
    auto call(Fn&& fn)
    {
        return callOnGui(m_context, std::forward<Fn>(fn));
    }

signals:
    // The last worker has been joined; on the group's thread.
    void emptied();

private:
    void release(std::uint64_t id);

    QObject* m_context;
    std::map<std::uint64_t, std::thread> m_threads;  // touched on the group's thread only
    std::uint64_t m_nextId = 0;
    std::atomic<int> m_count{0};    // the threads of m_threads
    std::atomic<int> m_running{0};  // workers whose function has not returned yet
};

}  // namespace tessaly
