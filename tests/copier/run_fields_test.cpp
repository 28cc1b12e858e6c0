#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "copier/run_times.h"
#include "ui/size_format.h"

using namespace tessaly;

TEST(RunFields, SizesAndDurationsAsTheWindowShowsThem)
{
    const struct
    {
        std::uint64_t bytes;
        const char* shown;
    } sizes[] = {
        {0, "0 b"},
        {512, "512 b"},
        {1000, "1000 b"},
        {1024, "1024 b"},
        {1025, "1 Kb"},  // 1.0009765625 at three digits
        {1536, "1.5 Kb"},
        {1048576, "1024 Kb"},
        {3221225472ull, "3 Gb"},
        {1536ull << 20, "1.5 Gb"},
        {2048ull << 30, "2048 Gb"},  // no unit beyond G: more gigabytes
        {12345ull << 30, "12345 Gb"},
    };
    for (const auto& size : sizes) {
        EXPECT_EQ(formatSize(size.bytes), size.shown) << size.bytes;
    }

    const struct
    {
        std::uint32_t seconds;
        const char* shown;
    } durations[] = {
        {0, "00:00:00"},
        {61, "00:01:01"},
        {3600, "01:00:00"},
        {86399, "23:59:59"},
        {86400, "unknown"},
        {0xFFFFFFFFu, "unknown"},
    };
    for (const auto& duration : durations) {
        EXPECT_EQ(formatDuration(duration.seconds, "unknown"), duration.shown) << duration.seconds;
    }
}

TEST(RunFields, TimesAndSpeedOfARun)
{
    RunSnapshot run;
    run.copying = true;
    run.currentIndex = 1;
    run.entryCount = 3;
    run.shortRate = 2048;
    run.longRate = 1000;
    run.destinationEnd = 50000;
    run.destinationPosition = 20000;
    run.totalSize = 1000000;
    run.doneSize = 400000;
    RunTimes times = computeRunTimes(run);
    EXPECT_TRUE(times.running);
    EXPECT_EQ(times.speed, RunTimes::Speed::Measured);
    EXPECT_EQ(times.rate, 2048u);
    EXPECT_EQ(times.thisFileSeconds, 30u);
    EXPECT_EQ(times.allFilesSeconds, 600u);

    // On the last line both times are the rest of that file.
    run.currentIndex = 2;
    times = computeRunTimes(run);
    EXPECT_EQ(times.allFilesSeconds, 30u);

    // Before the first measurement the speed is unknown.
    run.shortRate = 1;
    EXPECT_EQ(computeRunTimes(run).speed, RunTimes::Speed::Unknown);

    // Copies that grew past the listed sizes leave nothing to do, not an endless rest;
    // a rest beyond 2^32 seconds stays the largest count instead of wrapping to a small one.
    run.currentIndex = 0;
    run.doneSize = run.totalSize + 5;
    run.destinationPosition = run.destinationEnd + 1;
    times = computeRunTimes(run);
    EXPECT_EQ(times.thisFileSeconds, 0u);
    EXPECT_EQ(times.allFilesSeconds, 0u);
    run.doneSize = 0;
    run.totalSize = (std::uint64_t{1} << 32) + 5;
    run.longRate = 1;
    EXPECT_EQ(computeRunTimes(run).allFilesSeconds, 0xFFFFFFFFu);

    // After Stop, or past the last line: speed 0 and no times.
    run.copying = false;
    times = computeRunTimes(run);
    EXPECT_FALSE(times.running);
    EXPECT_EQ(times.speed, RunTimes::Speed::Idle);
    run.copying = true;
    run.currentIndex = 3;
    EXPECT_FALSE(computeRunTimes(run).running);
}

// During the passes after the main pass the copy's position rests at the file's end:
// neither rest can be told, but the passes' reads have a speed.
TEST(RunFields, APassAfterTheMainPassShowsItsSpeedButNoTimeLeft)
{
    RunSnapshot run;
    run.copying = true;
    run.currentIndex = 0;
    run.entryCount = 2;
    run.shortRate = 40000;
    run.longRate = 30000;
    run.destinationEnd = 50000;
    run.destinationPosition = 50000;
    run.totalSize = 100000;
    run.passRegions = 7;
    RunTimes times = computeRunTimes(run);
    EXPECT_TRUE(times.running);
    EXPECT_EQ(times.speed, RunTimes::Speed::Measured);
    EXPECT_EQ(times.rate, 40000u);
    EXPECT_EQ(times.thisFileSeconds, RunTimes::kUnknownSeconds);
    EXPECT_EQ(times.allFilesSeconds, RunTimes::kUnknownSeconds);
    EXPECT_EQ(formatDuration(times.thisFileSeconds, "unknown"), "unknown");

    // The pass is over: the times count again.
    run.passRegions = 0;
    run.currentIndex = 1;
    EXPECT_EQ(computeRunTimes(run).thisFileSeconds, 0u);
}
