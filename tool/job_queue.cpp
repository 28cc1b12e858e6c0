#include "tool/job_queue.h"

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

void JobWorker::run()
{
    while (!m_stop.load()) {
        runQueued();
        // The stop flag is looked at only with an empty queue; one more look after
        // the sleep catches jobs appended just before the stop.
        if (m_stop.load()) break;
        sleepMs(m_timing.pollMs);
    }
    runQueued();
}

void JobWorker::runQueued()
{
    while (std::optional<TransferJob> job = m_queue.front()) {
        if (m_runJob) m_runJob(*job);
        m_queue.removeFront();
    }
}

}  // namespace tessaly
