#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

namespace tessaly {

// The threads that work for a window. Each runs one function and is counted from
// start() until its thread has ended and been joined on the group's thread, which
// happens as soon as it ends; the group then says when it has become empty.
//
// What a worker hands to the window runs on the group's thread, queued in the order it
// was handed over: results a worker posts arrive before the group counts it gone. The
// hand-over goes through a lock of the group's own, so that what a worker did before
// posting is seen by the call it posted, also by the thread checker.
//
// A window waits for its group by the event loop (its close is refused until the group
// is empty), so that a worker waiting for an answer gets it.
class WorkerGroup : public QObject
{
    Q_OBJECT
public:
    // The group belongs to the thread that creates it, the one that starts workers.
    WorkerGroup() = default;
    // The owner lets the group empty first. A worker left over is waited for here without
    // running the event loop: the calls it handed over and that have not run are dropped,
    // so one waiting for an answer goes on without it (with its type's default value).
    ~WorkerGroup() override;
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;

    // Runs work on a thread of its own. False (and nothing counted) when the system
    // gives no thread.
    bool start(std::function<void()> work);
    // Workers started and not yet joined; from any thread.
    int count() const { return m_count.load(); }
    bool empty() const { return count() == 0; }

    // Runs fn on the group's thread and returns at once; from any thread.
    void post(std::function<void()> fn);
    // Runs fn on the group's thread and waits for its result; at once when called there.
    // The group's thread must keep its event loop running while a worker may call here.
    template <typename Fn>
    auto call(Fn&& fn) -> std::invoke_result_t<Fn>
    {
        using Result = std::invoke_result_t<Fn>;
        if (onOwnThread()) {
            return fn();
        }
        auto answered = std::make_shared<Answered>();
        if constexpr (std::is_void_v<Result>) {
            post([&fn, guard = std::make_shared<Guard>(answered)] { fn(); });
            answered->wait();
        } else {
            std::optional<Result> result;
            post([&fn, &result, guard = std::make_shared<Guard>(answered)] {
                result.emplace(fn());
            });
            answered->wait();
            return result ? std::move(*result) : Result{};
        }
    }

signals:
    // The last worker has been joined; on the group's thread.
    void emptied();

private slots:
    // Runs what the workers handed over, one call at a time, so that a call that runs a
    // loop of its own (a dialog) leaves the later ones in order for that loop.
    void runInbox();

private:
    // Raised when a call handed to the group has run or has been dropped.
    struct Answered
    {
        void finish()
        {
            std::lock_guard lock(mutex);
            done = true;
            changed.notify_all();
        }
        void wait()
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [this] { return done; });
        }
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
    };
    // Finishes its Answered when the last copy of the call goes, run or dropped.
    struct Guard
    {
        explicit Guard(std::shared_ptr<Answered> to) : answered(std::move(to)) {}
        ~Guard() { answered->finish(); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        std::shared_ptr<Answered> answered;
    };

    bool onOwnThread() const;
    void release(std::uint64_t id);
    void dropInbox();

    std::map<std::uint64_t, std::thread> m_threads;  // touched on the group's thread only
    std::uint64_t m_nextId = 0;
    std::atomic<int> m_count{0};    // the threads of m_threads
    std::atomic<int> m_running{0};  // workers whose function has not returned yet
    std::mutex m_inboxMutex;
    std::deque<std::function<void()>> m_inbox;  // under m_inboxMutex
    std::atomic<bool> m_wakePending{false};     // a runInbox is queued and has not begun
};

}  // namespace tessaly
