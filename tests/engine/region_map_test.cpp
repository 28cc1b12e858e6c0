#include "engine/region_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace tessaly {
namespace {

using Records = std::vector<BadRegion>;
constexpr std::uint64_t k4GiB = std::uint64_t{1} << 32;

std::vector<Region> regionsOf(const RegionMap& map)
{
    return {map.begin(), map.end()};
}

TEST(RegionMap, MergesOverlappingTouchingAndContainedRegionsInAnyOrder)
{
    // Two that touch, one inside another, one that bridges two, one of length 0.
    Records records{{4096, 512}, {0, 512}, {512, 1024}, {1024, 1024}, {9000, 0},
                    {5000, 100}, {5010, 10}, {4500, 600}, {7000, 1}};
    const std::vector<Region> expected{{0, 2048}, {4096, 1004}, {7000, 1}};
    std::mt19937 random(5);
    for (int round = 0; round < 50; ++round) {
        std::shuffle(records.begin(), records.end(), random);
        EXPECT_EQ(regionsOf(RegionMap(records)), expected);
        RegionMap added;
        for (const BadRegion& r : records) added.add(r);
        ASSERT_EQ(regionsOf(added), expected) << "round " << round;
    }
    EXPECT_EQ(RegionMap(records).totalBytes(), 2048u + 1004u + 1u);
    EXPECT_EQ(RegionMap(records).reach(), 7001u);
    EXPECT_EQ(RegionMap().reach(), 0u);

    // A region that swallows every other one.
    RegionMap map(records);
    map.add(0, 8000);
    EXPECT_EQ(regionsOf(map), (std::vector<Region>{{0, 8000}}));
}

TEST(RegionMap, CountsBytesBelowALimitAndInARangeOnce)
{
    const RegionMap map(Records{{100, 50}, {120, 50}, {300, 10}});  // [100, 170) [300, 310)
    EXPECT_EQ(map.bytesBelow(0), 0u);
    EXPECT_EQ(map.bytesBelow(100), 0u);
    EXPECT_EQ(map.bytesBelow(101), 1u);
    EXPECT_EQ(map.bytesBelow(150), 50u);  // the limit cuts the merged region
    EXPECT_EQ(map.bytesBelow(300), 70u);
    EXPECT_EQ(map.bytesBelow(305), 75u);
    EXPECT_EQ(map.bytesBelow(~std::uint64_t{0}), 80u);
    EXPECT_EQ(map.bytesIn(160, 305), 15u);
    EXPECT_EQ(map.bytesIn(170, 300), 0u);
    EXPECT_EQ(map.bytesIn(305, 160), 0u);  // an empty range
}

TEST(RegionMap, OverlapWithARangeAtItsEdges)
{
    const RegionMap map(Records{{100, 50}, {200, 50}});  // [100, 150) [200, 250)
    // A range that ends where a region starts, or starts where one ends, meets nothing.
    EXPECT_FALSE(map.meets(0, 100));
    EXPECT_TRUE(map.overlap(0, 100).empty());
    EXPECT_FALSE(map.meets(150, 200));
    EXPECT_TRUE(map.overlap(150, 200).empty());
    EXPECT_FALSE(map.meets(250, 1000));
    EXPECT_FALSE(map.meets(120, 120));
    // One byte either side.
    EXPECT_TRUE(map.meets(0, 101));
    EXPECT_TRUE(map.meets(149, 200));
    EXPECT_EQ(regionsOf(map.overlap(149, 201)), (std::vector<Region>{{149, 1}, {200, 1}}));
    // Cut at both ends, and a range inside one region.
    EXPECT_EQ(regionsOf(map.overlap(120, 230)), (std::vector<Region>{{120, 30}, {200, 30}}));
    EXPECT_EQ(regionsOf(map.overlap(210, 220)), (std::vector<Region>{{210, 10}}));
    EXPECT_EQ(map.overlap(0, 1000), map);
    EXPECT_TRUE(map.overlap(230, 120).empty());
    // The first region met is given whole, not cut.
    EXPECT_EQ(map.firstMeeting(149, 300), (Region{100, 50}));
    EXPECT_EQ(map.firstMeeting(150, 201), (Region{200, 50}));
    EXPECT_EQ(map.firstMeeting(150, 200), std::nullopt);
}

TEST(RegionMap, AgreesWithAByteSetUnderRandomAddsAndQueries)
{
    constexpr std::uint64_t kSpan = 200;
    std::mt19937 random(11);
    const auto below = [&](std::uint64_t n) {
        return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(random);
    };
    for (int round = 0; round < 200; ++round) {
        RegionMap map;
        std::vector<bool> filled(kSpan, false);
        Records records;
        for (int i = 0; i < 12; ++i) {
            const std::uint64_t offset = below(kSpan - 20);
            const std::uint64_t length = below(20);
            map.add(offset, length);
            records.push_back({static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(length)});
            for (std::uint64_t b = offset; b < offset + length; ++b) filled[b] = true;
        }
        ASSERT_EQ(map, RegionMap(records));
        // Sorted, none empty, none touching the next.
        for (std::size_t i = 0; i < map.size(); ++i) {
            ASSERT_GT(map[i].length, 0u);
            if (i > 0) {
                ASSERT_LT(map[i - 1].end(), map[i].offset);
            }
        }
        for (int q = 0; q < 20; ++q) {
            const std::uint64_t first = below(kSpan);
            const std::uint64_t end = first + below(kSpan - first + 1);
            const auto count = static_cast<std::uint64_t>(
                std::count(filled.begin() + first, filled.begin() + end, true));
            ASSERT_EQ(map.bytesIn(first, end), count) << first << ".." << end;
            ASSERT_EQ(map.meets(first, end), count > 0) << first << ".." << end;
            ASSERT_EQ(map.overlap(first, end).totalBytes(), count);
            ASSERT_EQ(map.bytesBelow(end), static_cast<std::uint64_t>(std::count(
                                               filled.begin(), filled.begin() + end, true)));
        }
    }
}

TEST(RegionMap, OffsetsBeyond4GiBAndTheLogsRecords)
{
    RegionMap map;
    map.add(5 * k4GiB, 100);
    map.add(k4GiB - 10, 20);      // across 4 GiB
    map.add(k4GiB + 10, 5);       // touches the one before
    map.add(5 * k4GiB - 50, 50);  // touches the one after
    EXPECT_EQ(regionsOf(map), (std::vector<Region>{{k4GiB - 10, 25}, {5 * k4GiB - 50, 150}}));
    EXPECT_EQ(map.bytesBelow(k4GiB), 10u);
    EXPECT_EQ(map.bytesBelow(5 * k4GiB), 75u);
    EXPECT_EQ(map.reach(), 5 * k4GiB + 100);
    EXPECT_EQ(regionsOf(map.overlap(k4GiB, 5 * k4GiB)),
              (std::vector<Region>{{k4GiB, 15}, {5 * k4GiB - 50, 50}}));
    // No record starts at or past 4 GiB.
    EXPECT_FALSE(map.toRecords());
    EXPECT_EQ(map.overlap(0, k4GiB).toRecords(), (Records{{0xFFFFFFF6u, 10}}));

    // Records that end past 4 GiB merge into regions longer than a record says; they go
    // back into records that hold every byte again.
    const Records records{{0, 0xFFFFFFFFu}, {0xFFFFFF00u, 0x200}, {0xFFFFFFFFu, 0x10}};
    const RegionMap wide(records);
    EXPECT_EQ(regionsOf(wide), (std::vector<Region>{{0, k4GiB + 0x100}}));
    EXPECT_EQ(wide.toRecords(), (Records{{0, 0xFFFFFFFFu}, {0xFFFFFFFFu, 0x101}}));
    const Records furthest{{1, 0xFFFFFFFFu}, {0xFFFFFFFFu, 0xFFFFFFFFu}};
    EXPECT_EQ(RegionMap(furthest).toRecords(), (Records{{1, 0xFFFFFFFEu}, {0xFFFFFFFFu, 0xFFFFFFFFu}}));
    EXPECT_EQ(RegionMap().toRecords(), Records{});

    // Wide records hold any region whole.
    EXPECT_EQ(map.toRecords(LogForm::Wide),
              (Records{{k4GiB - 10, 25}, {5 * k4GiB - 50, 150}}));

    // A region that would pass 2^64 ends there, added or read from a crafted wide record.
    RegionMap top;
    top.add(~std::uint64_t{0} - 5, 100);
    EXPECT_EQ(top.reach(), ~std::uint64_t{0});
    const RegionMap crafted(Records{{~std::uint64_t{0} - 5, 100}, {10, 10}});
    EXPECT_EQ(regionsOf(crafted), (std::vector<Region>{{10, 10}, {~std::uint64_t{0} - 5, 5}}));
}

TEST(RegionMap, AssignReplacesEveryRegion)
{
    RegionMap map(Records{{0, 100}, {500, 100}});
    map.assign({{50, 10}, {0, 0}, {40, 10}});
    EXPECT_EQ(regionsOf(map), (std::vector<Region>{{40, 20}}));
    map.assign({});
    EXPECT_TRUE(map.empty());
    EXPECT_EQ(map.totalBytes(), 0u);
}

}  // namespace
}  // namespace tessaly
