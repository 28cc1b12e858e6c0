#include "tool/job_queue.h"

#include <system_error>
#include <utility>

#include "platform/clock.h"

namespace tessaly {

void JobQueue::append(TransferJob job)
{
    std::lock_guard lock(m_mutex);
    m_jobs.push_back(std::move(job));
}

std::optional<TransferJob> JobQueue::front() const
{
    std::lock_guard lock(m_mutex);
    if (m_jobs.empty()) return std::nullopt;
    return m_jobs.front();
}

bool JobQueue::removeFront()
{
    std::lock_guard lock(m_mutex);
    if (m_jobs.empty()) return false;
    m_jobs.pop_front();
    return true;
}

std::size_t JobQueue::size() const
{
    std::lock_guard lock(m_mutex);
    return m_jobs.size();
}

void JobQueue::clear()
{
    std::lock_guard lock(m_mutex);
    m_jobs.clear();
}

JobWorker::JobWorker(JobQueue& queue, RunJob runJob, Timing timing)
    : m_queue(queue), m_runJob(std::move(runJob)), m_timing(timing)
{
}

JobWorker::~JobWorker()
{
    m_stop.store(true);
    if (m_worker.joinable()) m_worker.join();
    if (m_waiter.joinable()) m_waiter.join();
}

bool JobWorker::startWorker()
{
    if (m_started.exchange(true)) return false;
    // Raised before the thread exists, so that a stop requested before its first
    // step still waits for it.
    m_busy.store(1);
    try {
        m_worker = std::thread([this] { workerLoop(); });
    } catch (const std::system_error&) {
        m_busy.store(0);
        return false;
    }
    return true;
}

bool JobWorker::requestStop(Stopped onStopped)
{
    if (m_stop.exchange(true)) return false;
    try {
        m_waiter = std::thread([this, onStopped] { waiterLoop(onStopped); });
    } catch (const std::system_error&) {
        // Without a waiter the window could never close; wait here instead. The
        // worker leaves as soon as its queue is empty.
        waiterLoop(onStopped);
    }
    return true;
}

void JobWorker::workerLoop()
{
    while (!m_stop.load()) {
        while (std::optional<TransferJob> job = m_queue.front()) {
            if (m_runJob) m_runJob(*job);
            m_queue.removeFront();
        }
        // The stop flag is looked at only with an empty queue; one more look after
        // the sleep catches jobs appended just before the stop.
        if (m_stop.load()) break;
        sleepMs(m_timing.pollMs);
    }
    while (std::optional<TransferJob> job = m_queue.front()) {
        if (m_runJob) m_runJob(*job);
        m_queue.removeFront();
    }
    m_busy.store(0);
}

void JobWorker::waiterLoop(Stopped onStopped)
{
    while (m_busy.load() != 0) sleepMs(m_timing.waiterPollMs);
    if (onStopped) onStopped();
}

}  // namespace tessaly
