#include "tool/job_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace tessaly {
namespace {

constexpr JobWorker::Timing kFast{1, 1};

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

// Waits for the waiter's call back, as the window's event loop would.
class StopSignal
{
public:
    JobWorker::Stopped callback()
    {
        return [this] {
            std::lock_guard lock(m_mutex);
            ++m_calls;
            m_changed.notify_all();
        };
    }
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_calls > 0; });
    }
    int calls()
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_calls = 0;
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
    ASSERT_TRUE(worker.startWorker());
    EXPECT_FALSE(worker.startWorker());
    EXPECT_EQ(worker.busyCount(), 1);
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
    StopSignal stopped;
    JobWorker worker(
        queue, [&](const TransferJob& j) { recorder.run(j); }, kFast);
    ASSERT_TRUE(worker.startWorker());
    queue.append(job("hold"));
    queue.append(job("queued"));
    recorder.waitForEvent("start hold");

    EXPECT_TRUE(worker.requestStop(stopped.callback()));
    EXPECT_FALSE(worker.requestStop(stopped.callback()));  // one waiter only
    EXPECT_TRUE(worker.stopRequested());
    EXPECT_EQ(worker.busyCount(), 1);
    EXPECT_EQ(stopped.calls(), 0);

    // Appended while stopping: still before the worker leaves, so it runs too.
    queue.append(job("late"));
    recorder.release();
    stopped.wait();
    EXPECT_EQ(worker.busyCount(), 0);
    EXPECT_EQ(recorder.events(),
              (std::vector<std::string>{"start hold", "end hold", "start queued", "end queued",
                                        "start late", "end late"}));
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(stopped.calls(), 1);
}

TEST(JobWorker, StopWithAnIdleOrUnstartedWorkerCallsBack)
{
    JobQueue queue;
    StopSignal idle, unstarted;
    {
        JobWorker worker(queue, nullptr, kFast);
        ASSERT_TRUE(worker.startWorker());
        worker.requestStop(idle.callback());
        idle.wait();
        EXPECT_EQ(worker.busyCount(), 0);
    }
    JobWorker never(queue, nullptr, kFast);
    never.requestStop(unstarted.callback());
    unstarted.wait();
    EXPECT_EQ(unstarted.calls(), 1);
}

TEST(JobWorker, AppendsFromAnotherThreadAllRunInOrder)
{
    JobQueue queue;
    std::vector<std::string> ran;  // touched by the worker only until it has left
    StopSignal stopped;
    JobWorker worker(
        queue, [&](const TransferJob& j) { ran.push_back(j.logFileName); }, kFast);
    ASSERT_TRUE(worker.startWorker());
    std::vector<std::string> expected;
    for (int i = 0; i < 500; ++i) {
        expected.push_back(std::to_string(i));
        queue.append(job(expected.back()));
    }
    worker.requestStop(stopped.callback());
    stopped.wait();
    EXPECT_EQ(ran, expected);
}

}  // namespace
}  // namespace tessaly
