// Whole devices as sources, and output file systems that cannot hold the copy.
#include <algorithm>

#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class WholeDeviceTest : public EngineTest
{
protected:
    WholeDeviceTest() { setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, false); }
};

// A block device is imaged into NAME.img beside NAME.img.log, with its fills listed
// and its own sector size; a stop and a second start continue the image.
TEST_F(WholeDeviceTest, ADeviceIsCopiedIntoAnImageNamedAfterIt)
{
    const Bytes medium4k = pattern(64 * 4096, 3);
    medium.addFile("/dev/sdb", medium4k);
    medium.markBlockDevice("/dev/sdb");
    medium.setVolume("/dev/", VolumeInfo{4096, DriveType::Removable});
    medium.markBad("/dev/sdb", 10 * 4096, 4096);
    setSetting(*engine, &EngineSettings::trimPass, false);

    // Stopped after the first chunk: the copy and its log stay for the next run.
    bool stopped = false;
    medium.setReadHook("/dev/sdb", [&](std::uint64_t offset) {
        if (offset > 0 && !stopped) {
            stopped = true;
            engine->requestStop(false);
        }
    });
    ASSERT_TRUE(copy("/dev/sdb"));
    EXPECT_EQ(engine->destinationPath(), "/out/sdb.img");
    EXPECT_EQ(engine->sectorSize(), 4096u);
    EXPECT_EQ(engine->status(), EngineStatus::Stopped);
    ASSERT_TRUE(medium.hasFile("/out/sdb.img.log"));
    EXPECT_FALSE(medium.hasFile("/out/sdb"));

    medium.setReadHook("/dev/sdb", nullptr);
    ASSERT_TRUE(copy("/dev/sdb"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    Bytes expected = medium4k;
    std::fill(expected.begin() + 10 * 4096, expected.begin() + 11 * 4096, 0);
    EXPECT_EQ(medium.contents("/out/sdb.img"), expected);
    EXPECT_EQ(logOf("/out/sdb.img.log"),
              logBytes("sdb.img", 0, {{10 * 4096, 4096}, {64 * 4096, 0}}));
}

// The largest file of the output's file system bounds where the copy may end: the
// destination base under Append counts, and nothing is left behind by a refusal.
TEST_F(WholeDeviceTest, TheOutputMustHoldTheWholeCopy)
{
    medium.setMaxFileSize("/out/", 20480);
    medium.addFile("/src/exact", pattern(20480, 1));
    ASSERT_TRUE(copy("/src/exact"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(medium.contents("/out/exact"), pattern(20480, 1));

    medium.addFile("/src/over", pattern(20481, 2));
    EXPECT_FALSE(engine->startFile("/src/over", "/out", ""));
    EXPECT_EQ(engine->status(), EngineStatus::DestinationTooSmall);
    EXPECT_FALSE(medium.hasFile("/out/over"));
    EXPECT_FALSE(medium.hasFile("/out/over.log"));

    // Another folder on another file system takes it.
    medium.addFolder("/big");
    ASSERT_TRUE(copy("/src/over", "/big"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);

    // Appended behind 1000 bytes, a source of 19480 ends exactly at the limit, one
    // of 19481 a byte beyond it; the refused copy and its log stay as they were.
    setSetting(*engine, &EngineSettings::existingPolicy, ExistingPolicy::Append);
    setSetting(*engine, &EngineSettings::trimPass, false);
    const Bytes old = pattern(1000, 5);
    const Bytes oldLog = logBytes("a", 0, {{1000, 0}});
    medium.addFile("/out/a", old);
    medium.addFile("/out/a.log", oldLog);
    medium.addFile("/src/a", pattern(19481, 6));
    EXPECT_FALSE(engine->startFile("/src/a", "/out", ""));
    EXPECT_EQ(engine->status(), EngineStatus::DestinationTooSmall);
    EXPECT_EQ(medium.contents("/out/a"), old);
    EXPECT_EQ(logOf("/out/a.log"), oldLog);

    medium.addFile("/src/a", pattern(19480, 6));
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(medium.contents("/out/a").size(), 20480u);

    // Skip leaves the copy as it is, so nothing has to fit.
    setSetting(*engine, &EngineSettings::existingPolicy, ExistingPolicy::Skip);
    medium.addFile("/out/over", pattern(10, 7));
    ASSERT_TRUE(copy("/src/over"));
    EXPECT_TRUE(engine->skippedExisting());
}

}  // namespace
}  // namespace tessaly::testing
