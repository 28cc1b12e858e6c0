// The copier's run over its list, with the engine over the scripted medium and a list
// that stands in for the window.
#include "copier/list_copy_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "tests/support/engine_settings_edit.h"
#include "tests/support/scripted_medium.h"
#include "texts/text_ids.h"

namespace tessaly {
namespace {

using testing::ScriptedMedium;
using Bytes = std::vector<std::uint8_t>;

Bytes pattern(std::size_t size, unsigned seed)
{
    Bytes bytes(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

// The window's side of the run: lines with their icons and states, and what was shown.
class ListHost : public DriverHost
{
public:
    explicit ListHost(RunCounters& counters) : m_counters(counters) {}

    void add(const std::string& name, std::uint64_t size, EntryState state = EntryState::Fresh)
    {
        std::lock_guard lock(m_mutex);
        lines.push_back({{m_noBase, name, size, state}, 0, 0, 0, false, {}});
        m_counters.totalSize += size;
        m_counters.entryCount.store(static_cast<std::uint32_t>(lines.size()));
    }

    std::optional<NextEntry> takeEntry(bool& skip) override
    {
        std::lock_guard lock(m_mutex);
        const std::uint32_t index = m_counters.currentIndex.load();
        if (index >= lines.size()) return std::nullopt;
        if (lines[index].entry.state == EntryState::Done) {
            m_counters.currentIndex.store(index + 1);
            skip = true;
            return std::nullopt;
        }
        lines[index].entry.state = EntryState::InProgress;
        return NextEntry{lines[index].entry, "/out", waitsForMedium};
    }
    std::string outputFolder() override { return "/out"; }
    void entryStarted() override
    {
        std::lock_guard lock(m_mutex);
        current().icon = 1;
    }
    void showProgress(int, int totalPercent) override
    {
        std::lock_guard lock(m_mutex);
        lastTotalPercent = totalPercent;
    }
    void showFilled(std::uint64_t bytes) override
    {
        std::lock_guard lock(m_mutex);
        filled = bytes;
    }
    void showTimes() override {}
    void refreshDetails() override
    {
        std::lock_guard lock(m_mutex);
        Line& line = current();
        line.refreshesBeforeStart += line.icon == 1 ? 0 : 1;
        ++line.refreshes;
        line.lastRefreshAfterWorker = engine != nullptr && !engine->busy();
    }
    void entryEnded(const EntryEnd& end, const ReportLine& report) override
    {
        std::lock_guard lock(m_mutex);
        const std::uint32_t index = m_counters.currentIndex.load();
        lines[index].report = report;
        lines[index].icon = end.icon;
        lines[index].entry.state = end.state;
        m_counters.doneSize += end.doneBytes;
        if (end.advance) m_counters.currentIndex.store(index + 1);
    }
    void reportFailure(const RunMessage& message) override
    {
        std::lock_guard lock(m_mutex);
        messages.push_back(message);
    }
    void runEnded() override { ++runsEnded; }
    void showHold(RunHold hold, std::uint32_t seconds) override
    {
        {
            std::lock_guard lock(m_mutex);
            holds.push_back(hold);
        }
        if (onHold) onHold(hold, seconds);
    }

    struct Line
    {
        FileEntry entry;
        int icon = 0;
        int refreshes = 0;  // of the detail view
        int refreshesBeforeStart = 0;
        bool lastRefreshAfterWorker = false;
        ReportLine report;
    };
    const CopyEngine* engine = nullptr;
    bool waitsForMedium = false;
    std::function<void(RunHold, std::uint32_t)> onHold;
    std::vector<RunHold> holds;
    std::vector<Line> lines;
    std::vector<RunMessage> messages;
    std::atomic<int> runsEnded{0};
    std::atomic<int> lastTotalPercent{-1};
    std::atomic<std::uint64_t> filled{0};

    // The lines' icons, read while the driver may still write them.
    std::vector<int> icons()
    {
        std::lock_guard lock(m_mutex);
        std::vector<int> shown;
        for (const auto& line : lines) shown.push_back(line.icon);
        return shown;
    }

private:
    // The current line; the caller holds m_mutex.
    Line& current() { return lines[m_counters.currentIndex.load()]; }

    RunCounters& m_counters;
    std::mutex m_mutex;
    std::shared_ptr<const std::string> m_noBase = std::make_shared<const std::string>();
};

class ListCopyDriverTest : public ::testing::Test
{
protected:
    ListCopyDriverTest() : driver(engine, medium, counters, exiting, host, {20, 2})
    {
        medium.addFolder("/out");
        host.engine = &engine;
        setSetting(engine, &EngineSettings::rereadCount, 1);
        setSetting(engine, &EngineSettings::autoRereads, false);
        // By default as the window does with its defaults: no more copies, go on with an
        // existing copy.
        engine.setQueryCallback([this](EngineQuery& query) {
            return onQuery ? onQuery(query) : query.kind == QueryKind::Existing;
        });
        thread = std::thread([this] { driver.runDriver(); });
    }
    ~ListCopyDriverTest() override
    {
        exiting.store(true);
        engine.requestStop(false);
        thread.join();
    }

    // Starts a run and waits until the driver has ended it (or 10 s have passed).
    bool runToItsEnd()
    {
        driver.clearStop();
        counters.copying.store(true);
        for (int i = 0; i < 2000 && counters.copying.load(); ++i) sleepMs(5);
        while (engine.busy()) sleepMs(5);
        return !counters.copying.load();
    }
    std::vector<int> icons() { return host.icons(); }

    ScriptedMedium medium;
    CopyEngine engine{medium};
    RunCounters counters;
    std::atomic<bool> exiting{false};
    ListHost host{counters};
    std::function<bool(EngineQuery&)> onQuery;
    ListCopyDriver driver;
    std::thread thread;
};

// The driver finds the list done and ends the run; an Add with auto start between its
// look and its end must not be lost, and a Stop between them must not be undone.
TEST(RunRequest, TheEndOfARunNeverClearsAStartThatCameAfterTheLook)
{
    RunCounters counters;
    counters.copying.store(true);
    std::uint32_t seen = counters.copying.snapshot();  // the driver: nothing left
    counters.entryCount.store(1);                      // the window: Add, then Start
    counters.copying.store(true);
    EXPECT_FALSE(counters.copying.endIfUnchanged(seen));
    EXPECT_TRUE(counters.copying.load());

    seen = counters.copying.snapshot();
    counters.copying.store(false);  // Stop
    counters.copying.store(true);   // and Start again
    counters.copying.store(false);  // and Stop
    EXPECT_FALSE(counters.copying.endIfUnchanged(seen));
    EXPECT_FALSE(counters.copying.load());

    counters.copying.store(true);
    EXPECT_TRUE(counters.copying.endIfUnchanged(counters.copying.snapshot()));
    EXPECT_FALSE(counters.copying.load());
}

TEST_F(ListCopyDriverTest, AnEmptyFileIsDoneAndAFailingOneIsReportedWhileTheRunGoesOn)
{
    const Bytes data = pattern(4096, 1);
    medium.addFile("/src/empty", Bytes{});
    medium.addFile("/src/locked", pattern(512, 2));
    medium.failOpen("/src/locked");
    medium.addFile("/src/a.bin", data);
    host.add("/src/empty", 0);
    host.add("/src/locked", 512);
    host.add("/src/a.bin", data.size());

    ASSERT_TRUE(runToItsEnd());
    EXPECT_EQ(icons(), (std::vector<int>{2, 4, 2}));
    EXPECT_EQ(host.lines[0].entry.state, EntryState::Done);
    EXPECT_EQ(host.lines[1].entry.state, EntryState::Unfinished);
    EXPECT_EQ(host.lines[2].entry.state, EntryState::Done);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], (RunMessage{text::kFileWord, "/src/locked", text::kCannotOpen, -1}));
    EXPECT_EQ(counters.currentIndex.load(), 3u);
    EXPECT_EQ(counters.doneSize.load(), data.size());
    // The failed file stays in the total.
    EXPECT_EQ(host.lastTotalPercent.load(), 4096 * 100 / 4608);
    EXPECT_EQ(medium.contents("/out/a.bin"), data);
    EXPECT_TRUE(medium.hasFile("/out/empty"));
    // The detail view follows the started files, the last time once their copy ended;
    // the file that failed to start leaves it alone.
    for (const int started : {0, 2}) {
        EXPECT_GT(host.lines[started].refreshes, 0);
        EXPECT_EQ(host.lines[started].refreshesBeforeStart, 0);
        EXPECT_TRUE(host.lines[started].lastRefreshAfterWorker);
    }
    EXPECT_EQ(host.lines[1].refreshes, 0);
}

// A file listed twice opens and gets its copy from the first line; the second line is
// refused with what happened, not with a copy that cannot be opened.
TEST_F(ListCopyDriverTest, TheSecondLineOfADuplicateSaysAnotherLineMakesItsCopy)
{
    const Bytes data = pattern(4096, 3);
    medium.addFile("/src/a.bin", data);
    host.add("/src/a.bin", data.size());
    host.add("/src/a.bin", data.size());
    ASSERT_TRUE(runToItsEnd());
    EXPECT_EQ(icons(), (std::vector<int>{2, 4}));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], (RunMessage{text::kFileWord, "/src/a.bin", text::kSameCopyInRun, -1}));
    EXPECT_EQ(medium.contents("/out/a.bin"), data);
}

// The figures of the last refresh: the "Not read" bytes go down again when the trim
// reads a filled sector, and a list of empty files ends at 100 %.
TEST_F(ListCopyDriverTest, TheLastFiguresFollowTheTrimAndTheEmptyFiles)
{
    const Bytes data = pattern(8192, 4);
    medium.addFile("/src/w.bin", data);
    medium.markWeak("/src/w.bin", 4096, 512, 1);  // filled in the main pass, read by the trim
    host.add("/src/w.bin", data.size());
    ASSERT_TRUE(runToItsEnd());
    EXPECT_EQ(medium.contents("/out/w.bin"), data);
    EXPECT_EQ(host.filled.load(), 0u);

    counters.totalSize = 0;
    medium.addFile("/src/e1", Bytes{});
    medium.addFile("/src/e2", Bytes{});
    host.add("/src/e1", 0);
    host.add("/src/e2", 0);
    ASSERT_TRUE(runToItsEnd());
    EXPECT_EQ(host.lastTotalPercent.load(), 100);
}

TEST_F(ListCopyDriverTest, AMediumTakenOutEndsTheRunSilentlyAndTheNextStartFinishesTheLine)
{
    const Bytes data = pattern(16384, 3);
    medium.addFile("/src/b.bin", data);
    medium.addFile("/src/c.bin", pattern(1024, 4));
    medium.setRemovableMedium("/src");
    medium.setRemovalAfter(6000);
    host.add("/src/b.bin", data.size());
    host.add("/src/c.bin", 1024);

    ASSERT_TRUE(runToItsEnd());
    EXPECT_EQ(icons(), (std::vector<int>{3, 0}));
    EXPECT_EQ(host.lines[0].entry.state, EntryState::Unfinished);
    EXPECT_EQ(counters.currentIndex.load(), 0u);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_GE(host.runsEnded.load(), 1);

    medium.insertMedium();
    ASSERT_TRUE(runToItsEnd());
    EXPECT_EQ(icons(), (std::vector<int>{2, 2}));
    EXPECT_EQ(medium.contents("/out/b.bin"), data);
    EXPECT_TRUE(host.messages.empty());
}

// With the setting on, the run waits for the medium with the line current, says so, and
// finishes the line by itself once the medium is back; Stop ends the wait and the run.
TEST_F(ListCopyDriverTest, WaitingForTheMediumTheRunGoesOnByItselfOrStops)
{
    const Bytes data = pattern(16384, 3);
    medium.addFile("/src/b.bin", data);
    medium.addFile("/src/c.bin", pattern(1024, 4));
    medium.setRemovableMedium("/src");
    medium.setRemovalAfter(6000);
    host.add("/src/b.bin", data.size());
    host.add("/src/c.bin", 1024);
    host.waitsForMedium = true;
    std::atomic<int> iconWhileWaiting{-1};
    host.onHold = [&](RunHold hold, std::uint32_t) {
        if (hold != RunHold::MediumGone) return;
        iconWhileWaiting = host.icons()[0];
        if (counters.copying.load()) {
            // Stop, as the window's does: the engine, idle during the wait, is told too.
            counters.copying.store(false);
            driver.requestStop();
            engine.requestStop(false);
        }
    };
    ASSERT_TRUE(runToItsEnd());
    EXPECT_EQ(iconWhileWaiting.load(), 1);  // the line stays current while the run waits
    EXPECT_EQ(icons(), (std::vector<int>{3, 0}));
    EXPECT_EQ(counters.currentIndex.load(), 0u);
    EXPECT_EQ(host.holds, (std::vector<RunHold>{RunHold::MediumGone, RunHold::None}));

    host.holds.clear();
    medium.insertMedium();
    medium.setRemovalAfter(4000);
    host.onHold = [&](RunHold hold, std::uint32_t) {
        if (hold == RunHold::MediumGone) medium.insertMedium();
    };
    ASSERT_TRUE(runToItsEnd());
    EXPECT_EQ(icons(), (std::vector<int>{2, 2}));
    EXPECT_EQ(medium.contents("/out/b.bin"), data);
    EXPECT_TRUE(host.messages.empty());
    ASSERT_GE(host.holds.size(), 2u);
    EXPECT_EQ(host.holds.front(), RunHold::MediumGone);
    EXPECT_EQ(host.holds.back(), RunHold::None);
}

TEST_F(ListCopyDriverTest, StopKeepsTheLineCurrentAndTheNextStartResumesIt)
{
    const Bytes data = pattern(4 << 20, 5);
    medium.addFile("/src/big.bin", data);
    medium.markBad("/src/big.bin", 1024, 512);
    host.add("/src/big.bin", data.size());
    host.add("/src/next.bin", 0);
    medium.addFile("/src/next.bin", Bytes{});
    std::atomic<bool> stopped{false};  // set on the engine's worker
    onQuery = [&](EngineQuery& query) {
        // The worker asks for another copy at the bad sector: press Stop there, once.
        if (query.kind == QueryKind::AddReserved && !stopped) {
            stopped = true;
            counters.copying.store(false);
            driver.requestStop();
            engine.requestStop(false);
        }
        return query.kind == QueryKind::Existing;
    };
    counters.copying.store(true);
    for (int i = 0; i < 2000 && (!stopped || engine.busy() || host.icons()[0] != 3); ++i) {
        sleepMs(5);
    }
    ASSERT_TRUE(stopped);
    EXPECT_EQ(icons(), (std::vector<int>{3, 0}));
    EXPECT_EQ(counters.currentIndex.load(), 0u);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_LT(medium.contents("/out/big.bin").size(), data.size());

    ASSERT_TRUE(runToItsEnd());
    EXPECT_EQ(icons(), (std::vector<int>{5, 2}));  // the bad sector stays filled: damaged
    Bytes expected = data;
    std::fill_n(expected.begin() + 1024, 512, 0);
    EXPECT_EQ(medium.contents("/out/big.bin"), expected);
    EXPECT_EQ(host.filled.load(), 512u);
}

TEST_F(ListCopyDriverTest, ContinuingFromAnEarlierLinePassesOverTheDoneOnes)
{
    for (const char* name : {"/src/a", "/src/b", "/src/c", "/src/d"}) {
        medium.addFile(name, pattern(2048, 6));
    }
    host.add("/src/a", 2048, EntryState::Done);
    host.add("/src/b", 2048, EntryState::Unfinished);
    host.add("/src/c", 2048, EntryState::Done);
    host.add("/src/d", 2048);
    counters.currentIndex.store(1);

    ASSERT_TRUE(runToItsEnd());
    EXPECT_EQ(icons(), (std::vector<int>{0, 2, 0, 2}));
    EXPECT_EQ(medium.readCount("/src/a"), 0);
    EXPECT_EQ(medium.readCount("/src/c"), 0);
    EXPECT_FALSE(medium.hasFile("/out/c"));
    EXPECT_EQ(counters.currentIndex.load(), 4u);
}

}  // namespace
}  // namespace tessaly
