#include <gtest/gtest.h>

#include <cstdint>
#include <string>

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
