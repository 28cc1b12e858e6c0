#include "ui/worker_group.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "ui/ending_dialog.h"

using namespace tessaly;

namespace {

// Holds workers until the test lets them go, one gate each.
class Gates
{
public:
    explicit Gates(int count) : m_open(static_cast<std::size_t>(count), false) {}
    void wait(int gate)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_open[static_cast<std::size_t>(gate)]; });
    }
    void open(int gate)
    {
        std::lock_guard lock(m_mutex);
        m_open[static_cast<std::size_t>(gate)] = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<bool> m_open;
};

// A window that ends as the programs' windows do: a close asks the workers to stop and
// the window closes once its group is empty.
class GroupWindow : public EndingDialog
{
public:
    GroupWindow()
    {
        connect(&workers, &WorkerGroup::emptied, this, [this] {
            if (stopping) endRun(1);
        });
    }
    WorkerGroup workers;
    bool stopping = false;

protected:
    void requestEnd() override
    {
        stopping = true;
        if (workers.empty()) endRun(1);
    }
};

}  // namespace

class WorkerGroupTest : public QObject
{
    Q_OBJECT

private slots:
    void emptiedFollowsTheLastWorkerAndEachIsReleasedAsItEnds()
    {
        WorkerGroup group;
        QSignalSpy emptied(&group, &WorkerGroup::emptied);
        Gates gates(3);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(group.start([&gates, i] { gates.wait(i); }));
        }
        QCOMPARE(group.count(), 3);

        gates.open(1);
        QTRY_COMPARE(group.count(), 2);  // joined now, not when the group goes
        gates.open(0);
        QTRY_COMPARE(group.count(), 1);
        QTest::qWait(20);
        QCOMPARE(emptied.count(), 0);
        gates.open(2);
        QTRY_COMPARE(emptied.count(), 1);
        QVERIFY(group.empty());

        // Emptied again after the next worker, and only once for it.
        QVERIFY(group.start([] {}));
        QTRY_COMPARE(emptied.count(), 2);
        QTest::qWait(20);
        QCOMPARE(emptied.count(), 2);
    }

    void resultsArriveOnTheGroupsThreadBeforeTheWorkerCountsAsGone()
    {
        WorkerGroup group;
        std::vector<int> results;
        bool allOnContextThread = true;
        int resultsWhenEmptied = -1;
        connect(&group, &WorkerGroup::emptied, &group,
                [&] { resultsWhenEmptied = static_cast<int>(results.size()); });
        QVERIFY(group.start([&] {
            for (int i = 0; i < 100; ++i) {
                group.post([&, i] {
                    allOnContextThread &= QThread::currentThread() == group.thread();
                    results.push_back(i);
                });
            }
        }));
        QTRY_COMPARE(resultsWhenEmptied, 100);
        QVERIFY(allOnContextThread);
        QCOMPARE(results.front(), 0);
        QCOMPARE(results.back(), 99);
    }

    void aWorkerGetsItsAnswerFromTheGroupsThread()
    {
        WorkerGroup group;
        std::atomic<int> answer{0};
        QVERIFY(group.start([&] {
            answer.store(
                group.call([&] { return QThread::currentThread() == group.thread() ? 42 : -1; }));
        }));
        QTRY_COMPARE(answer.load(), 42);
        QTRY_VERIFY(group.empty());
    }

    void aCloseWhileWorkersRunWaitsForThem()
    {
        GroupWindow window;
        window.show();
        Gates gates(1);
        std::atomic<int> answered{0};
        // The worker asks the window once more after the close: it gets its answer.
        QVERIFY(window.workers.start([&] {
            gates.wait(0);
            answered.store(window.workers.call([] { return 7; }));
        }));
        window.close();
        QVERIFY(window.stopping);
        QVERIFY(window.isVisible());
        QTest::qWait(20);
        QVERIFY(window.isVisible());
        QVERIFY(!window.finished());

        gates.open(0);
        QTRY_VERIFY(window.finished());
        QVERIFY(!window.isVisible());
        QCOMPARE(answered.load(), 7);
        QCOMPARE(window.result(), 1);
    }

    void destroyingTheGroupReleasesAWorkerWaitingForAnAnswer()
    {
        // The group's thread no longer runs its loop: the worker's call is dropped
        // and it goes on with no answer instead of holding the destructor forever.
        std::atomic<int> answer{-1};
        std::atomic<bool> asking{false};
        auto group = std::make_unique<WorkerGroup>();
        WorkerGroup* asked = group.get();
        QVERIFY(group->start([&answer, &asking, asked] {
            asking.store(true);
            answer.store(asked->call([] { return 5; }));
        }));
        while (!asking.load()) QThread::msleep(1);
        QThread::msleep(5);
        group.reset();
        QCOMPARE(answer.load(), 0);
    }
};

QTEST_MAIN(WorkerGroupTest)
#include "worker_group_test.moc"
