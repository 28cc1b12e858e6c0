#include "tool/job_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessaly {
namespace {

constexpr JobWorker::Timing kFast{1};

TransferJob job(const std::string& name, TransferKind kind = TransferKind::Get)
{
    return {name, "/logs", kind};
}

// Records the jobs a worker runs; a job named "hold" waits until released.
class JobRecorder
{
public:
    void run(const TransferJob& j)
    {
        std::unique_lock lock(m_mutex);
        m_events.push_back("start " + j.logFileName);
        m_changed.notify_all();
        if (j.logFileName == "hold") m_changed.wait(lock, [this] { return m_released; });
        m_events.push_back("end " + j.logFileName);
        m_changed.notify_all();
    }
    void waitForEvent(const std::string& event)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] {
            for (const auto& e : m_events)
                if (e == event) return true;
            return false;
        });
    }
    void release()
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    std::vector<std::string> events()
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_events;
    bool m_released = false;
};

// The worker on a thread of its own, as the window's worker group runs it.
class WorkerThread
{
public:
    explicit WorkerThread(JobWorker& worker) : m_worker(worker)
    {
        m_thread = std::thread([this] {
            m_worker.run();
            m_left.store(true);
        });
    }
    ~WorkerThread()
    {
        m_worker.requestStop();
        join();
    }
    void join()
    {
        if (m_thread.joinable()) m_thread.join();
    }
    bool left() const { return m_left.load(); }

private:
    JobWorker& m_worker;
    std::atomic<bool> m_left{false};
    std::thread m_thread;
};

TEST(JobQueue, KeepsOrderAndDuplicates)
{
    JobQueue queue;
    EXPECT_FALSE(queue.front());
    EXPECT_FALSE(queue.removeFront());
    queue.append(job("a.log"));
    queue.append(job("b.log", TransferKind::Put));
    queue.append(job("a.log"));
    ASSERT_EQ(queue.size(), 3u);
    EXPECT_EQ(queue.front()->logFileName, "a.log");
    EXPECT_TRUE(queue.removeFront());
    EXPECT_EQ(queue.front()->kind, TransferKind::Put);
    EXPECT_EQ(static_cast<int>(TransferKind::Get), 1);  // stored values
    EXPECT_EQ(static_cast<int>(TransferKind::Put), 0);
}

TEST(JobWorker, RunsJobsOneAfterAnotherInQueueOrder)
{
    JobQueue queue;
    JobRecorder recorder;
    JobWorker worker(
        queue, [&](const TransferJob& j) { recorder.run(j); }, kFast);
    WorkerThread thread(worker);
    queue.append(job("first"));
    queue.append(job("second"));
    recorder.waitForEvent("end second");
    EXPECT_EQ(recorder.events(),
              (std::vector<std::string>{"start first", "end first", "start second", "end second"}));
}

TEST(JobWorker, StopWaitsForTheRunningJobAndEveryQueuedOne)
{
    JobQueue queue;
    JobRecorder recorder;
    JobWorker worker(
        queue, [&](const TransferJob& j) { recorder.run(j); }, kFast);
    WorkerThread thread(worker);
    queue.append(job("hold"));
    queue.append(job("queued"));
    recorder.waitForEvent("start hold");

    EXPECT_TRUE(worker.requestStop());
    EXPECT_FALSE(worker.requestStop());  // one stop only
    EXPECT_TRUE(worker.stopRequested());
    EXPECT_FALSE(thread.left());

    // Appended while stopping: still before the worker leaves, so it runs too.
    queue.append(job("late"));
    recorder.release();
    thread.join();
    EXPECT_EQ(recorder.events(),
              (std::vector<std::string>{"start hold", "end hold", "start queued", "end queued",
                                        "start late", "end late"}));
    EXPECT_TRUE(queue.empty());
}

TEST(JobWorker, AStopBeforeTheFirstLookStillRunsTheQueue)
{
    JobQueue queue;
    std::vector<std::string> ran;
    JobWorker worker(
        queue, [&](const TransferJob& j) { ran.push_back(j.logFileName); }, kFast);
    queue.append(job("one"));
    worker.requestStop();
    worker.run();  // returns: stopped, and the queue is empty
    EXPECT_EQ(ran, std::vector<std::string>{"one"});
}

TEST(JobWorker, AppendsFromAnotherThreadAllRunInOrder)
{
    JobQueue queue;
    std::vector<std::string> ran;  // touched by the worker only until it has left
    JobWorker worker(
        queue, [&](const TransferJob& j) { ran.push_back(j.logFileName); }, kFast);
    WorkerThread thread(worker);
    std::vector<std::string> expected;
    for (int i = 0; i < 500; ++i) {
        expected.push_back(std::to_string(i));
        queue.append(job(expected.back()));
    }
    worker.requestStop();
    thread.join();
    EXPECT_EQ(ran, expected);
}

}  // namespace
}  // namespace tessaly
