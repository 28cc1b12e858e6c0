#include <chrono>
#include <condition_variable>

#include "engine/engine_settings.h"
#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class StartFileTest : public EngineTest
{
};

TEST_F(StartFileTest, RefusedStartsSayWhy)
{
    medium.addFile("/src/a", pattern(20480));
    medium.addFile("/lost/b", pattern(20480));
    medium.setVolume("/lost/", std::nullopt);
    medium.addFolder("/out");
    medium.addFile("/out/locked", pattern(10));
    medium.addFile("/src/locked", pattern(20480));
    medium.failOpen("/out/locked");
    medium.addFile("/src/nolog", pattern(20480));
    medium.failOpen("/out/nolog.log");

    EXPECT_FALSE(engine->startFile("/src/missing", "/out", ""));
    EXPECT_EQ(engine->status(), EngineStatus::SourceOpenFailed);
    EXPECT_FALSE(engine->startFile("/lost/b", "/out", ""));
    EXPECT_EQ(engine->status(), EngineStatus::SourceOpenFailed);
    EXPECT_FALSE(engine->startFile("/src/a", "/absent", ""));
    EXPECT_EQ(engine->status(), EngineStatus::DestinationCreateFailed);
    EXPECT_FALSE(engine->startFile("/src/locked", "/out", ""));
    EXPECT_EQ(engine->status(), EngineStatus::DestinationOpenFailed);
    EXPECT_FALSE(engine->startFile("/src/nolog", "/out", ""));
    EXPECT_EQ(engine->status(), EngineStatus::LogCreateFailed);
    EXPECT_FALSE(engine->busy());
}

TEST_F(StartFileTest, FreeSpaceMustCoverTheRestOfTheSource)
{
    medium.addFile("/src/a", pattern(20480));
    medium.addFolder("/out");
    medium.setQuota(20480 + 20480 + 1023);
    EXPECT_FALSE(engine->startFile("/src/a", "/out", ""));
    EXPECT_EQ(engine->status(), EngineStatus::DiskFull);
    // The destination this start created is gone again: once there is room, the
    // same copy starts as a new one, without a question about an existing copy.
    EXPECT_FALSE(medium.hasFile("/out/a"));

    medium.setQuota(20480 + 20480 + 1024);
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(medium.contents("/out/a"), pattern(20480));
    EXPECT_TRUE(askedKinds().empty());

    medium.setFreeSpaceUnknown(true);
    medium.addFile("/src/b", pattern(100));
    EXPECT_FALSE(engine->startFile("/src/b", "/out", ""));
    EXPECT_EQ(engine->status(), EngineStatus::FreeSpaceUnknown);
    EXPECT_FALSE(medium.hasFile("/out/b"));
}

TEST_F(StartFileTest, AThreadThatCannotStartEndsTheStart)
{
    medium.addFile("/src/a", pattern(20480));
    CopyEngineTestAccess::setThreadStarter(*engine, [](std::thread&, std::function<void()>) { return false; });
    EXPECT_FALSE(engine->startFile("/src/a", "/", ""));
    EXPECT_EQ(engine->status(), EngineStatus::WorkerStartFailed);
    EXPECT_FALSE(engine->busy());
    // Neither the copy nor the log it had just created is left behind.
    EXPECT_FALSE(medium.hasFile("/a"));
    EXPECT_FALSE(medium.hasFile("/a.log"));
}

// A copy (or its log) that another run writes is locked by it: a second engine
// leaves it alone, and may take it once the first has ended.
TEST_F(StartFileTest, ACopyThatAnotherRunWritesIsLeftAlone)
{
    const Bytes source = pattern(20480);
    medium.addFile("/src/a", source);
    CopyEngine second(medium);
    second.setQueryCallback([](EngineQuery&) { return true; });
    std::optional<bool> secondStarted;
    ticks.hook = [&] {
        if (secondStarted) return;
        secondStarted = second.startFile("/src/a", "/out", "");
    };
    ASSERT_TRUE(copy("/src/a"));
    ticks.hook = nullptr;
    ASSERT_TRUE(secondStarted.has_value());
    EXPECT_FALSE(*secondStarted);
    EXPECT_EQ(second.status(), EngineStatus::DestinationInUse);
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(medium.contents("/out/a"), source);

    setSetting(second, &EngineSettings::existingPolicy, ExistingPolicy::Replace);
    ASSERT_TRUE(second.startFile("/src/a", "/out", ""));
    while (!second.waitUntilIdle(1000)) {
    }
    EXPECT_EQ(second.status(), EngineStatus::Ok);

    // A log held by another run: neither an existing copy nor a new one is started,
    // and the held log keeps its bytes.
    const Bytes held = logBytes("b", 0, {{0, 512}, {2048, 0}});
    for (const std::string& name : {std::string("b"), std::string("c")}) {
        SCOPED_TRACE(name);
        medium.addFile("/src/" + name, source);
        if (name == "b") medium.addFile("/out/b", slice(source, 0, 2048));
        medium.addFile("/out/" + name + ".log", held);
        auto other = medium.open("/out/" + name + ".log", Disposition::OpenExisting,
                                 Access::ReadWrite, nullptr);
        ASSERT_TRUE(other && other->tryLock());
        EXPECT_FALSE(engine->startFile("/src/" + name, "/out", ""));
        EXPECT_EQ(engine->status(), EngineStatus::DestinationInUse);
        EXPECT_EQ(logOf("/out/" + name + ".log"), held);
    }
    EXPECT_EQ(medium.contents("/out/b"), slice(source, 0, 2048));
    EXPECT_FALSE(medium.hasFile("/out/c"));
}

// A start refused at a question (the copy exists; no usable log) holds nothing open:
// another run can take the copy and its log at once, not only after the next start.
TEST_F(StartFileTest, ARefusedStartHoldsNothingOpen)
{
    const Bytes source = pattern(20480);
    medium.addFile("/src/a", source);
    medium.addFile("/out/a", slice(source, 0, 4096));
    medium.addFile("/out/a.log", logBytes("a", 0, {{4096, 0}}));
    medium.addFile("/src/b", source);
    medium.addFile("/out/b", slice(source, 0, 4096));
    const std::pair<const char*, QueryKind> refusals[] = {{"a", QueryKind::Existing},
                                                          {"b", QueryKind::NoLog}};
    for (const auto& [name, refused] : refusals) {
        SCOPED_TRACE(name);
        answer = [refused = refused](EngineQuery& q) { return q.kind != refused; };
        EXPECT_FALSE(engine->startFile(std::string("/src/") + name, "/out", ""));
        for (const std::string& path : {std::string("/out/") + name, std::string("/out/a.log")}) {
            auto other = medium.open(path, Disposition::OpenExisting, Access::ReadWrite, nullptr);
            ASSERT_TRUE(other);
            EXPECT_TRUE(other->tryLock()) << path << " is still held";
        }
    }
}

TEST_F(StartFileTest, TheSourceItselfIsNeverTheDestination)
{
    const Bytes source = pattern(20480);
    medium.addFile("/src/a", source);
    medium.addLink("/mirror/a", "/src/a");
    for (const ExistingPolicy policy : {ExistingPolicy::Replace, ExistingPolicy::Append,
                                        ExistingPolicy::Resume, ExistingPolicy::Skip}) {
        SCOPED_TRACE(static_cast<int>(policy));
        setSetting(*engine, &EngineSettings::existingPolicy, policy);
        EXPECT_FALSE(engine->startFile("/src/a", "/src", ""));
        EXPECT_EQ(engine->status(), EngineStatus::DestinationOpenFailed);
        EXPECT_FALSE(engine->startFile("/src/a", "/mirror/", ""));
        EXPECT_EQ(engine->status(), EngineStatus::DestinationOpenFailed);
    }
    EXPECT_EQ(medium.contents("/src/a"), source);
    EXPECT_FALSE(medium.hasFile("/src/a.log"));
    EXPECT_FALSE(medium.hasFile("/mirror/a.log"));
    EXPECT_TRUE(askedKinds().empty());
}

TEST_F(StartFileTest, DestinationsStayBelowTheOutputFolder)
{
    medium.addFile("/src/a/b/f", pattern(100));
    medium.addFile("/other/g", pattern(100));
    medium.addFile("/src/x/../h", pattern(100));
    ASSERT_TRUE(copy("/src/a/b/f", "/out/new", "/src"));
    EXPECT_EQ(engine->destinationPath(), "/out/new/a/b/f");
    EXPECT_EQ(medium.contents("/out/new/a/b/f"), pattern(100));
    // The base folder does not hold the source: no relative folder.
    ASSERT_TRUE(copy("/other/g", "/out/", "/src/"));
    EXPECT_EQ(engine->destinationPath(), "/out/g");
    // A relative folder that climbs out is dropped.
    ASSERT_TRUE(copy("/src/x/../h", "/out", "/src/x"));
    EXPECT_EQ(engine->destinationPath(), "/out/h");
    EXPECT_EQ(medium.contents("/out/h"), pattern(100));
}

TEST_F(StartFileTest, ABusyEngineRefusesAnotherFileAndKeepsItsCopy)
{
    medium.addFile("/src/a", pattern(20480));
    medium.markBad("/src/a", 4096, 512);
    medium.addFile("/src/b", pattern(100));
    std::mutex gate;
    std::condition_variable cv;
    bool asked = false;
    bool release = false;
    answer = [&](EngineQuery&) {
        std::unique_lock lock(gate);
        asked = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
        return 0;
    };
    ASSERT_TRUE(engine->startFile("/src/a", "/out", ""));
    {
        std::unique_lock lock(gate);
        cv.wait(lock, [&] { return asked; });
    }
    EXPECT_TRUE(engine->busy());
    EXPECT_FALSE(engine->startFile("/src/b", "/out", ""));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(engine->destinationPath(), "/out/a");
    // The worker is held in the question: the wait runs out.
    EXPECT_FALSE(engine->waitUntilIdle(20));
    {
        std::lock_guard lock(gate);
        release = true;
    }
    cv.notify_all();
    // The worker's end wakes the wait long before its limit.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(engine->waitUntilIdle(120000));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
    EXPECT_FALSE(engine->busy());
    EXPECT_TRUE(engine->waitUntilIdle(0));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{4096, 512}}));
    EXPECT_FALSE(medium.hasFile("/out/b"));
}

TEST_F(StartFileTest, EverySettingReachesTheEngineAndComesBack)
{
    EngineSettings changed;
    changed.autoRereads = false;
    changed.createLog = false;
    changed.deleteLogIfNoErrors = false;
    changed.fillString = "BAD";
    changed.fillType = FillType::String;
    changed.fillValue = 7;
    changed.optimizeFor = 0.5f;
    changed.reservedFolder = "/save/";
    changed.reservedPlacement = ReservedPlacement::Ask;
    changed.rereadCount = 4;
    changed.existingPolicy = ExistingPolicy::Skip;
    engine->setSettings(changed);
    EXPECT_EQ(engine->settings(), changed);
    engine->setSettings(EngineSettings{.reservedFolder = "/other/"});
    EXPECT_EQ(engine->settings(), EngineSettings{.reservedFolder = "/other/"});
}

TEST_F(StartFileTest, SettingsKeepWhatWasSet)
{
    setSetting(*engine, &EngineSettings::optimizeFor, 0.25f);
    setSetting(*engine, &EngineSettings::optimizeFor, 1.5f);  // out of range: ignored
    setSetting(*engine, &EngineSettings::optimizeFor, -0.1f);
    EXPECT_FLOAT_EQ(engine->settings().optimizeFor, 0.25f);
    setSetting(*engine, &EngineSettings::reservedFolder, "");
    EXPECT_EQ(engine->settings().reservedFolder, "");
    setSetting(*engine, &EngineSettings::reservedFolder, "/save/");
    EXPECT_EQ(engine->settings().reservedFolder, "/save/");
    setSetting(*engine, &EngineSettings::fillString, "ab");
    EXPECT_EQ(engine->settings().fillString, "ab");
    EXPECT_EQ(engine->settings().existingPolicy, ExistingPolicy::Resume);
    EXPECT_EQ(engine->settings().reservedPlacement, ReservedPlacement::BesideSource);
    EXPECT_TRUE(engine->settings().createLog);
    EXPECT_TRUE(engine->settings().autoRereads);
    EXPECT_EQ(engine->longRate(), 1u);
    EXPECT_EQ(engine->shortRate(), 1u);
}

}  // namespace
}  // namespace tessaly::testing
