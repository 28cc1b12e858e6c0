#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "tool/transfer_job.h"

namespace tessaly {

// The jobs waiting for the worker, in the order they were queued. The window
// thread appends; the worker copies the front entry, runs it and then removes it.
// Each operation holds the lock for itself alone, never while a job runs.
class JobQueue
{
public:
    void append(TransferJob job);
    // A copy of the front entry, or nullopt when the queue is empty.
    std::optional<TransferJob> front() const;
    // Removes the front entry; false when the queue was empty.
    bool removeFront();
    std::size_t size() const;
    bool empty() const { return size() == 0; }
    void clear();

private:
    mutable std::mutex m_mutex;
    std::deque<TransferJob> m_jobs;
};

// The one worker of the tool: polls the queue, runs its jobs one after another, and
// leaves only when a stop was requested and the queue is empty, so that a stop never
// cuts a job off and every job queued before it still runs.
class JobWorker
{
public:
    using RunJob = std::function<void(const TransferJob&)>;
    using Stopped = std::function<void()>;

    struct Timing
    {
        std::uint32_t pollMs = 200;       // worker: sleep while the queue is empty
        std::uint32_t waiterPollMs = 10;  // waiter: looks at the busy count
    };

    JobWorker(JobQueue& queue, RunJob runJob) : JobWorker(queue, std::move(runJob), Timing{}) {}
    JobWorker(JobQueue& queue, RunJob runJob, Timing timing);
    // Requests a stop if none was requested and waits for both threads.
    ~JobWorker();
    JobWorker(const JobWorker&) = delete;
    JobWorker& operator=(const JobWorker&) = delete;

    // Starts the worker thread once; the busy count is 1 before the thread runs.
    // False when it was started already or the thread could not be created.
    bool startWorker();
    // The stop sequence: the first call sets the stop flag and starts a waiter that
    // calls onStopped once the worker has left (at once when it never started);
    // later calls do nothing and return false. Never blocks the caller. onStopped
    // runs on the waiter thread: a window forwards it to its own thread, and it must
    // not destroy this worker itself.
    bool requestStop(Stopped onStopped);

    bool stopRequested() const { return m_stop.load(); }
    int busyCount() const { return m_busy.load(); }

private:
    void workerLoop();
    void waiterLoop(Stopped onStopped);

    JobQueue& m_queue;
    RunJob m_runJob;
    Timing m_timing;
    std::atomic<bool> m_stop{false};      // set once by requestStop, never cleared
    std::atomic<std::int32_t> m_busy{0};  // 1 from startWorker until the worker leaves
    std::atomic<bool> m_started{false};
    std::thread m_worker;
    std::thread m_waiter;
};

}  // namespace tessaly
