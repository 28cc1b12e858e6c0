#include <algorithm>

#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class ExistingDestinationTest : public EngineTest
{
protected:
    // Earlier runs' regions are made up over readable sources here; the trim pass
    // would read them (trim_pass_test.cpp covers it under Resume).
    ExistingDestinationTest() { setSetting(*engine, &EngineSettings::trimPass, false); }
    void usePolicy(ExistingPolicy policy)
    {
        setSetting(*engine, &EngineSettings::existingPolicy, policy);
    }
    static Bytes concat(Bytes a, const Bytes& b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
};

// A damaged source that is stopped part way and resumed gives the same copy and
// the same log as one uninterrupted run.
TEST_F(ExistingDestinationTest, ResumeAfterAStopEqualsAnUninterruptedCopy)
{
    auto damage = [](ScriptedMedium& m) {
        m.addFile("/src/r.bin", pattern(102400, 7));  // chunk 10240
        m.markBad("/src/r.bin", 5120, 1024);
        m.markBad("/src/r.bin", 61440, 512);
        m.markBad("/src/r.bin", 99840, 2560);
    };
    damage(medium);
    setSetting(*engine, &EngineSettings::fillType, FillType::LastGood);
    ticks.hook = [this] {
        if (engine->position() >= 40960) engine->requestStop(false);
    };
    ASSERT_TRUE(copy("/src/r.bin"));
    ticks.hook = nullptr;
    ASSERT_EQ(engine->status(), EngineStatus::Stopped);
    const std::uint32_t stoppedAt = engine->position();
    EXPECT_LT(stoppedAt, 61440u);
    ASSERT_TRUE(copy("/src/r.bin"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(askedKinds(), (std::vector<QueryKind>{QueryKind::AddReserved, QueryKind::Existing,
                                                    QueryKind::AddReserved}));

    ScriptedMedium fresh;
    fresh.addFolder("/out");
    damage(fresh);
    HookedTicks freshTicks;
    CopyEngine reference(fresh, freshTicks);
    setSetting(reference, &EngineSettings::fillType, FillType::LastGood);
    setSetting(reference, &EngineSettings::trimPass, false);
    ASSERT_TRUE(reference.startFile("/src/r.bin", "/out", ""));
    while (reference.busy()) sleepMs(1);
    EXPECT_EQ(reference.status(), EngineStatus::Ok);
    EXPECT_EQ(medium.contents("/out/r.bin"), fresh.contents("/out/r.bin"));
    EXPECT_EQ(logOf("/out/r.bin.log"), withoutAnnotations(fresh.contents("/out/r.bin.log")));
    EXPECT_EQ(engine->badRegions(), reference.badRegions());
    EXPECT_EQ(engine->filledBytes(), 4096);
}

TEST_F(ExistingDestinationTest, ResumeLoadsTheEarlierRegionsAndStartsAtTheEndRecord)
{
    const Bytes source = pattern(20480, 3);
    medium.addFile("/src/a", source);
    medium.addFile("/out/a", slice(source, 0, 8192));
    medium.addFile("/out/a.log", logBytes("a", 0, {{1024, 512}, {4096, 1024}, {8192, 0}}));
    setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, true);
    ASSERT_TRUE(engine->startFile("/src/a", "/out", ""));
    EXPECT_EQ(engine->filledBytes(), 1536);
    waitIdle();
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(medium.contents("/out/a"), source);
    EXPECT_EQ(continuedAt("/src/a", 8192), 8192u);
    // Earlier regions count: the log stays.
    EXPECT_EQ(logOf("/out/a.log"), logBytes("a", 0, {{1024, 512}, {4096, 1024}, {20480, 0}}));
    EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{1024, 512}, {4096, 1024}}));
}

TEST_F(ExistingDestinationTest, AppendCopiesBehindTheDestinationWithItsBase)
{
    const Bytes source = pattern(20480, 4);
    const Bytes old = pattern(1000, 5);
    medium.addFile("/src/a", source);
    medium.markBad("/src/a", 2048, 512);
    medium.addFile("/out/a", old);
    medium.addFile("/out/a.log", logBytes("a", 0, {{100, 512}, {1000, 0}}));
    usePolicy(ExistingPolicy::Append);
    ASSERT_TRUE(engine->startFile("/src/a", "/out", ""));
    EXPECT_EQ(engine->destinationEnd(), 21480u);
    waitIdle();
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    Bytes expected = concat(old, source);
    std::fill(expected.begin() + 1000 + 2048, expected.begin() + 1000 + 2560, 0);
    EXPECT_EQ(medium.contents("/out/a"), expected);
    EXPECT_EQ(engine->destinationPosition(), 21480u);
    EXPECT_EQ(logOf("/out/a.log"), logBytes("a", 0, {{100, 512}, {3048, 512}, {21480, 0}}));
    EXPECT_EQ(engine->filledBytes(), 512);  // the earlier copy's fill is not this file's
}

// An Append cut short (a stop, its medium taken away, a kill that left its log without
// an end record) goes on where it stopped, behind the base of its first run: under the
// same command, under Resume and when the wait for the medium continues it. The copy ends as one
// uninterrupted Append would, and the earlier copy's fill is not counted as the appended file's.
TEST_F(ExistingDestinationTest, AnAppendCutShortGoesOnBehindItsBase)
{
    const Bytes old = pattern(3000, 5);
    const Bytes source = pattern(40960, 6);
    enum class Then
    {
        AppendAgain,
        Resume,
        Continue
    };
    struct Case
    {
        const char* name;
        bool removed;
        Then then;
        bool killed = false;
    };
    const Case cases[] = {{"stopped, append again", false, Then::AppendAgain},
                          {"stopped, resume", false, Then::Resume},
                          {"medium removed, append again", true, Then::AppendAgain},
                          {"medium removed, the wait continues it", true, Then::Continue},
                          {"killed, append again", false, Then::AppendAgain, true},
                          {"killed, resume", false, Then::Resume, true}};
    medium.setRemovableMedium("/src");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        medium.addFile("/out/a", old);
        medium.addFile("/out/a.log", logBytes("a", 0, {{100, 512}, {3000, 0}}));
        medium.addFile("/src/a", source);
        medium.markBad("/src/a", 20480, 512);
        usePolicy(ExistingPolicy::Append);
        if (c.removed) {
            medium.setRemovalAfter(10240);
        } else {
            ticks.hook = [this] {
                if (engine->position() >= 10240) engine->requestStop(false);
            };
        }
        ASSERT_TRUE(copy("/src/a"));
        ticks.hook = nullptr;
        medium.insertMedium();
        ASSERT_EQ(engine->status(), c.removed ? EngineStatus::NotReady : EngineStatus::Stopped);
        ASSERT_LT(engine->position(), 20480u);
        if (c.killed) {
            Bytes log = medium.contents("/out/a.log");
            log.resize(log.size() - CopyLog::kRecordSize);  // no end record
            medium.addFile("/out/a.log", log);
        }
        if (c.then == Then::Resume) usePolicy(ExistingPolicy::Resume);
        if (c.then == Then::Continue) {
            ASSERT_TRUE(engine->continueFile("/src/a", "/out", ""));
            waitIdle();
        } else {
            ASSERT_TRUE(copy("/src/a"));
        }
        EXPECT_EQ(engine->status(), EngineStatus::Ok);
        Bytes expected = concat(old, source);
        std::fill(expected.begin() + 3000 + 20480, expected.begin() + 3000 + 20992, 0);
        EXPECT_EQ(medium.contents("/out/a"), expected);
        EXPECT_EQ(logOf("/out/a.log"), logBytes("a", 0, {{100, 512}, {23480, 512}, {43960, 0}}));
        EXPECT_EQ(engine->filledBytes(), 512);
    }
}

TEST_F(ExistingDestinationTest, WithoutAUsableLogTheUserIsAskedFirst)
{
    const Bytes source = pattern(20480, 6);
    struct Case
    {
        const char* name;
        Bytes log;  // empty: no log file
        bool unopenable = false;
        std::int32_t carriedBytes = 0;  // regions of an unfinished run that stay listed
    };
    Bytes wrongMagic = logBytes("a", 0, {{4096, 0}});
    wrongMagic[2] = 'X';
    const Case cases[] = {
        {"no log", {}},
        {"log cannot be opened", logBytes("a", 0, {{4096, 0}}), true},
        // Nothing of a log without its magic or name can be trusted: the copy counts as filled.
        {"wrong magic", wrongMagic, false, 4096},
        {"run never ended", logBytes("a", 0, {{512, 512}}), false, 512},
        {"empty name", logBytes("", 0, {{4096, 0}}), false, 4096},
        {"header only", logBytes("a", 0, {})},
    };
    int index = 0;
    for (const bool allow : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (allow ? ", allowed" : ", refused"));
            const std::string name = "a" + std::to_string(index++);
            medium.addFile("/src/" + name, source);
            medium.addFile("/out/" + name, slice(source, 0, 4096));
            if (!c.log.empty()) medium.addFile("/out/" + name + ".log", c.log);
            if (c.unopenable) medium.failOpen("/out/" + name + ".log");
            {
                std::lock_guard lock(mutex);
                kinds.clear();
            }
            answer = [allow](EngineQuery& q) { return q.kind == QueryKind::NoLog ? allow : true; };
            const bool started = copy("/src/" + name);
            EXPECT_EQ(askedKinds(),
                      (std::vector<QueryKind>{QueryKind::Existing, QueryKind::NoLog}));
            if (!allow || c.unopenable) {
                // A log path that cannot be opened cannot be replaced by a new log either.
                EXPECT_FALSE(started);
                EXPECT_EQ(engine->status(),
                          allow ? EngineStatus::LogOpenFailed : EngineStatus::NoLogRefused);
                EXPECT_EQ(medium.contents("/out/" + name), slice(source, 0, 4096));
                continue;
            }
            ASSERT_TRUE(started);
            EXPECT_EQ(engine->status(), EngineStatus::Ok);
            EXPECT_EQ(medium.contents("/out/" + name), source);
            EXPECT_EQ(continuedAt("/src/" + name, 4096), 4096u);
            EXPECT_EQ(engine->filledBytes(), c.carriedBytes);
        }
    }
}

// A run that never ended (killed, power lost) left fills in the destination that its
// log lists; the new log must keep listing them, or they would pass for data.
TEST_F(ExistingDestinationTest, ResumeAfterAnUnfinishedRunKeepsItsRegionsInTheNewLog)
{
    const Bytes source = pattern(20480, 6);
    medium.addFile("/src/a", source);
    medium.markBad("/src/a", 10240, 512);
    medium.addFile("/out/a", slice(source, 0, 4096));
    medium.addFile("/out/a.log", logBytes("a", 0, {{512, 512}}));  // run never ended
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(logOf("/out/a.log"), logBytes("a", 0, {{512, 512}, {10240, 512}, {20480, 0}}));
    EXPECT_EQ(engine->filledBytes(), 1024);
    EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{512, 512}, {10240, 512}}));

    // Append keeps them where they are in the destination and puts the new ones
    // behind the base; without a new log the old one stays as it was.
    const Bytes unfinished = logBytes("a", 0, {{512, 512}});
    for (const bool createLog : {true, false}) {
        SCOPED_TRACE(createLog ? "append" : "append without a new log");
        medium.addFile("/out/a", slice(source, 0, 4096));
        medium.addFile("/out/a.log", unfinished);
        usePolicy(ExistingPolicy::Append);
        setSetting(*engine, &EngineSettings::createLog, createLog);
        ASSERT_TRUE(copy("/src/a"));
        EXPECT_EQ(engine->status(), EngineStatus::Ok);
        Bytes expected = concat(slice(source, 0, 4096), source);
        std::fill(expected.begin() + 14336, expected.begin() + 14848, 0);
        EXPECT_EQ(medium.contents("/out/a"), expected);
        EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{512, 512}, {14336, 512}}));
        EXPECT_EQ(engine->filledBytes(), 512);  // the appended file's own
        EXPECT_EQ(
            logOf("/out/a.log"),
            createLog ? logBytes("a", 0, {{512, 512}, {14336, 512}, {24576, 0}}) : unfinished);
    }
}

TEST_F(ExistingDestinationTest, ResumeBehindADestinationOfOddSizeReadsEveryByte)
{
    const Bytes source = pattern(20480, 8);
    medium.addFile("/src/a", source);
    medium.addFile("/out/a", slice(source, 0, 1000));
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_TRUE(engine->badRegions().empty());
    EXPECT_EQ(medium.contents("/out/a"), source);
}

// A copy appended behind a destination of 4 GiB or more lands at the destination's whole
// size, and its log takes the wide form, whose records reach there; an existing narrow
// log is widened before anything is copied. Resume refuses such a destination: a copy
// longer than its source was not made from it.
TEST_F(ExistingDestinationTest, AppendBehindADestinationOf4GiBOrMoreLandsAtItsWholeSize)
{
    const std::uint64_t huge = (std::uint64_t{1} << 32) + 1024;
    const Bytes source = pattern(20480);
    medium.addFile("/src/a", source);
    medium.markBad("/src/a", 4096, 512);
    medium.addSparseFile("/out/a", huge);
    medium.addFile("/out/a.log", logBytes("a", 0, {{512, 512}, {0xFFFFFC00u, 1024}}));
    usePolicy(ExistingPolicy::Resume);
    EXPECT_FALSE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::SourceMismatch);
    EXPECT_EQ(medium.readCount("/src/a"), 0);

    usePolicy(ExistingPolicy::Append);
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    Bytes expected = source;
    std::fill(expected.begin() + 4096, expected.begin() + 4608, 0);
    EXPECT_EQ(medium.contents("/out/a", huge, 30000), expected);
    EXPECT_EQ(medium.contents("/out/a", 0, 1024), Bytes(1024, 0));
    EXPECT_EQ(
        logOf("/out/a.log"),
        wideLogBytes("a", 0,
                     {{512, 512}, {0xFFFFFC00u, 1024}, {huge + 4096, 512}, {huge + 20480, 0}}));
}

// A continued log loses its end record while the start is prepared; a start that is
// refused after that must give it back, or the copy could no longer be continued.
TEST_F(ExistingDestinationTest, ARefusedStartKeepsTheLogItWouldHaveContinued)
{
    const Bytes source = pattern(20480, 3);
    const Bytes log = logBytes("a", 0, {{512, 512}, {4096, 0}});
    medium.addFile("/src/a", source);
    medium.addFile("/out/a", slice(source, 0, 4096));
    medium.addFile("/out/a.log", log);
    const std::function<void()> refusals[] = {
        [this, &log] { medium.setQuota(20480 + 4096 + log.size() + 1000); },
        [this] { medium.setFreeSpaceUnknown(true); },
        [this] {
            CopyEngineTestAccess::setThreadStarter(*engine, [](std::thread&, std::function<void()>) { return false; });
        },
    };
    for (const auto& refuse : refusals) {
        refuse();
        EXPECT_FALSE(copy("/src/a"));
        EXPECT_EQ(logOf("/out/a.log"), log);
        EXPECT_EQ(medium.contents("/out/a"), slice(source, 0, 4096));
    }
    medium.setQuota(std::uint64_t{1} << 30);
    medium.setFreeSpaceUnknown(false);
    CopyEngineTestAccess::setThreadStarter(*engine, [](std::thread& thread, std::function<void()> body) {
        thread = std::thread(std::move(body));
        return true;
    });
    setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, false);
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(engine->filledBytes(), 512);
    EXPECT_EQ(logOf("/out/a.log"), logBytes("a", 0, {{512, 512}, {20480, 0}}));
    // Never asked to go on without it.
    for (QueryKind kind : askedKinds()) EXPECT_EQ(kind, QueryKind::Existing);
}

// Regions that overlap count each byte once, in 64 bits: 2^18 regions of the whole
// 16 KiB file add up to exactly 2^32, which a 32-bit count shows as nothing filled
// (and the log, taken for clean, was deleted).
TEST_F(ExistingDestinationTest, FilledBytesCountEachByteOfTheFileOnce)
{
    const Bytes source = pattern(16384, 3);
    medium.addFile("/src/a", source);
    medium.addFile("/out/a", source);
    const std::vector<BadRegion> records(std::size_t{1} << 18, BadRegion{0, 16384});
    std::vector<BadRegion> withEnd = records;
    withEnd.push_back({16384, 0});
    medium.addFile("/out/a.log", logBytes("a", 0, withEnd));
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(engine->filledBytes(), 16384);
    EXPECT_TRUE(medium.hasFile("/out/a.log"));

    // A run that never ended left regions reaching past what its copy holds; this
    // run writes that part anew, and counts only its own fill there.
    medium.addFile("/src/b", source);
    medium.markBad("/src/b", 12288, 512);
    medium.addFile("/out/b", slice(source, 0, 8192));
    medium.addFile("/out/b.log", logBytes("b", 0, {{4096, 512}, {6144, 0x40000000}, {0, 8}}));
    ASSERT_TRUE(copy("/src/b"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(engine->filledBytes(), 8 + 512 + 2048 + 512);
}

// A log that lists regions past its own end record does not describe this copy: it
// counts as no usable log, and a refusal to go on without it leaves it as it was.
// Going on without it keeps what it lists below the copy's end.
TEST_F(ExistingDestinationTest, ALogWithRegionsPastItsEndRecordIsNotUsable)
{
    const Bytes source = pattern(16384, 3);
    medium.addFile("/src/a", source);
    medium.addFile("/out/a", slice(source, 0, 4096));
    const Bytes log = logBytes("a", 0, {{0, 0x80000000}, {0, 0x80000000}, {4096, 0}});
    medium.addFile("/out/a.log", log);
    answer = [](EngineQuery& query) { return query.kind == QueryKind::Existing; };
    EXPECT_FALSE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::NoLogRefused);
    EXPECT_EQ(askedKinds(), (std::vector<QueryKind>{QueryKind::Existing, QueryKind::NoLog}));
    EXPECT_EQ(logOf("/out/a.log"), log);
    EXPECT_EQ(medium.contents("/out/a"), slice(source, 0, 4096));

    // Going on, the regions it lists stay listed where the copy holds bytes already.
    answer = nullptr;
    setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, false);
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(engine->filledBytes(), 4096);
    EXPECT_EQ(medium.contents("/out/a"), source);
    EXPECT_EQ(logOf("/out/a.log"), logBytes("a", 0, {{0, 4096}, {16384, 0}}));

    // A wide record at the last offset, whose end lies at 2^64, passes the end record too.
    medium.addFile("/out/a", slice(source, 0, 4096));
    const Bytes wide = wideLogBytes("a", 0, {{~std::uint64_t{0}, 1}, {4096, 0}});
    medium.addFile("/out/a.log", wide);
    answer = [](EngineQuery& query) { return query.kind == QueryKind::Existing; };
    EXPECT_FALSE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::NoLogRefused);
    EXPECT_EQ(logOf("/out/a.log"), wide);
}

TEST_F(ExistingDestinationTest, SkipLeavesDestinationAndLogUntouched)
{
    const Bytes log = logBytes("a", 0, {{512, 512}, {4096, 0}});
    medium.addFile("/src/a", pattern(20480));
    medium.addFile("/out/a", pattern(4096, 9));
    medium.addFile("/out/a.log", log);
    medium.addFile("/src/b", pattern(20480));
    medium.addFile("/out/b", pattern(100, 9));
    usePolicy(ExistingPolicy::Skip);
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    ASSERT_TRUE(copy("/src/b"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_TRUE(askedKinds().empty());
    EXPECT_EQ(medium.readCount("/src/a") + medium.readCount("/src/b"), 0);
    EXPECT_EQ(medium.contents("/out/a"), pattern(4096, 9));
    EXPECT_EQ(logOf("/out/a.log"), log);
    EXPECT_EQ(medium.contents("/out/b"), pattern(100, 9));
    EXPECT_FALSE(medium.hasFile("/out/b.log"));
}

// Replace empties the copy only once the file will be copied: an output that cannot hold
// the file, or lacks the room, leaves the copy and its log as they were. The room the old
// copy takes counts as free, as it is given back.
TEST_F(ExistingDestinationTest, AReplaceRefusedForRoomLeavesTheCopyAsItWas)
{
    const Bytes log = logBytes("a", 0, {{512, 512}, {4096, 0}});
    const Bytes old = pattern(4096, 9);
    medium.addFile("/src/a", pattern(20480));
    medium.addFile("/out/a", old);
    medium.addFile("/out/a.log", log);
    usePolicy(ExistingPolicy::Replace);
    medium.setMaxFileSize("/out", 20479);
    EXPECT_FALSE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::DestinationTooSmall);
    EXPECT_EQ(medium.contents("/out/a"), old);
    EXPECT_EQ(logOf("/out/a.log"), log);

    medium.setMaxFileSize("/out", std::nullopt);
    engine->beginRun();  // a run learns the output's limit once
    const std::uint64_t used = 20480 + old.size() + log.size();
    medium.setQuota(used + 10000);  // with the old copy's room, still less than 20480
    EXPECT_FALSE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::DiskFull);
    EXPECT_EQ(medium.contents("/out/a"), old);
    EXPECT_EQ(logOf("/out/a.log"), log);

    medium.setQuota(used + 18000);  // enough once the old copy's room is given back
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(medium.contents("/out/a"), pattern(20480));
}

TEST_F(ExistingDestinationTest, ReplaceAsksAndStartsOverOrKeepsEverythingWhenRefused)
{
    const Bytes log = logBytes("a", 0, {{512, 512}, {4096, 0}});
    medium.addFile("/src/a", pattern(20480));
    medium.addFile("/out/a", pattern(30000, 9));
    medium.addFile("/out/a.log", log);
    usePolicy(ExistingPolicy::Replace);
    answer = [](EngineQuery&) { return 0; };
    EXPECT_FALSE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::ExistingRefused);
    EXPECT_EQ(medium.contents("/out/a"), pattern(30000, 9));
    EXPECT_EQ(logOf("/out/a.log"), log);

    answer = nullptr;
    setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, false);
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(askedKinds(), (std::vector<QueryKind>{QueryKind::Existing, QueryKind::Existing}));
    EXPECT_EQ(medium.contents("/out/a"), pattern(20480));
    EXPECT_EQ(logOf("/out/a.log"), logBytes("a", 0, {{20480, 0}}));
    EXPECT_EQ(engine->filledBytes(), 0);

    // Without a new log the old one would pass for the new copy's: it goes.
    medium.addFile("/out/a", pattern(30000, 9));
    medium.addFile("/out/a.log", log);
    setSetting(*engine, &EngineSettings::createLog, false);
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(medium.contents("/out/a"), pattern(20480));
    EXPECT_FALSE(medium.hasFile("/out/a.log"));
    // A file of that name that is no log stays.
    medium.addFile("/out/a.log", "notes");
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(medium.text("/out/a.log"), "notes");
}

}  // namespace
}  // namespace tessaly::testing
