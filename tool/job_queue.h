#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

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
// cuts a job off and every job queued before it still runs. The thread it runs on is
// its owner's.
class JobWorker
{
public:
    using RunJob = std::function<void(const TransferJob&)>;

    struct Timing
    {
        std::uint32_t pollMs = 200;  // sleep while the queue is empty
    };

    JobWorker(JobQueue& queue, RunJob runJob) : JobWorker(queue, std::move(runJob), Timing{}) {}
    JobWorker(JobQueue& queue, RunJob runJob, Timing timing);
    JobWorker(const JobWorker&) = delete;
    JobWorker& operator=(const JobWorker&) = delete;

    // The worker's body: returns once a stop was requested and the queue is empty.
    void run();
    // The first call raises the stop flag and returns true; later calls return false.
    // Never blocks the caller.
    bool requestStop() { return !m_stop.exchange(true); }
    bool stopRequested() const { return m_stop.load(); }

private:
    void runQueued();

    JobQueue& m_queue;
    RunJob m_runJob;
    Timing m_timing;
    std::atomic<bool> m_stop{false};  // set once by requestStop, never cleared
};

}  // namespace tessaly
