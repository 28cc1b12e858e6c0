#include "tool/rescue_map.h"

#include <gtest/gtest.h>

namespace tessaly {
namespace {

using S = MapBlock::Status;

TEST(RescueMap, MergesOverlappingTouchingAndUnsortedRegions)
{
    // Two runs' regions, out of order; one inside another, two that touch.
    const auto blocks = mapBlocks(
        {{5000, 100}, {100, 50}, {120, 10}, {150, 50}, {4000, 1050}, {6000, 0}}, std::nullopt);
    ASSERT_TRUE(blocks);
    EXPECT_EQ(*blocks, (std::vector<MapBlock>{{0, 100, S::Finished},
                                              {100, 100, S::BadSector},
                                              {200, 3800, S::Finished},
                                              {4000, 1100, S::BadSector},
                                              {5100, 900, S::Finished}}));
}

TEST(RescueMap, EndRecordAndSizeBoundTheMap)
{
    // The rest of the file beyond the end record was never tried.
    auto blocks = mapBlocks({{0, 10}, {100, 0}}, 300);
    ASSERT_TRUE(blocks);
    EXPECT_EQ(*blocks, (std::vector<MapBlock>{
                           {0, 10, S::BadSector}, {10, 90, S::Finished}, {100, 200, S::NonTried}}));

    // Without an end record the last region counts, and bounds what is finished.
    blocks = mapBlocks({{10, 10}, {50, 10}}, std::nullopt);
    ASSERT_TRUE(blocks);
    EXPECT_EQ(blocks->back(), (MapBlock{50, 10, S::BadSector}));

    // A region past 4 GiB - 1 stays 64-bit.
    blocks = mapBlocks({{0xFFFFFF00u, 0x200}, {0xFFFFFF00u, 0}}, std::nullopt);
    ASSERT_TRUE(blocks);
    EXPECT_EQ(blocks->back(), (MapBlock{0xFFFFFF00u, 0x200, S::BadSector}));

    // The regions from the phases' boundary on were not tried yet, a region touching it too.
    blocks = mapBlocks({{0, 10}, {10, 20}, {50, 10}, {100, 0}}, std::nullopt, 10);
    ASSERT_TRUE(blocks);
    EXPECT_EQ(*blocks, (std::vector<MapBlock>{{0, 10, S::BadSector},
                                              {10, 20, S::NonTried},
                                              {30, 20, S::Finished},
                                              {50, 10, S::NonTried},
                                              {60, 40, S::Finished}}));

    EXPECT_FALSE(mapBlocks({{0, 10}, {100, 0}}, 99));
    EXPECT_TRUE(mapBlocks({{0, 0}}, std::nullopt)->empty());
}

// A log's annotations: the phases' areas not tried, and the filled regions the trim has
// not reached (all of them while the phases run).
TEST(RescueMap, ALogsRecordsOfThePhasesAndOfTheTrimMarkWhatIsNotTriedOrNotTrimmed)
{
    const std::vector<BadRegion> records = {{0, 10}, {30, 20}, {80, 10}, {100, 0}};
    struct Case
    {
        std::vector<LogAnnotation> notes;
        std::vector<MapBlock> blocks;
    };
    const Case cases[] = {
        {{}, {{0, 10, S::BadSector}, {10, 20, S::Finished}, {30, 20, S::BadSector},
              {50, 30, S::Finished}, {80, 10, S::BadSector}, {90, 10, S::Finished}}},
        {{phaseAnnotation({2, 80, 80})},
         {{0, 10, S::NonTrimmed}, {10, 20, S::Finished}, {30, 20, S::NonTrimmed},
          {50, 30, S::Finished}, {80, 10, S::NonTried}, {90, 10, S::Finished}}},
        {{passAnnotation({0, 2, 40})},
         {{0, 10, S::BadSector}, {10, 20, S::Finished}, {30, 10, S::BadSector},
          {40, 10, S::NonTrimmed}, {50, 30, S::Finished}, {80, 10, S::NonTrimmed},
          {90, 10, S::Finished}}},
        {{passAnnotation({1, 2, 40})},
         {{0, 10, S::BadSector}, {10, 20, S::Finished}, {30, 20, S::BadSector},
          {50, 30, S::Finished}, {80, 10, S::BadSector}, {90, 10, S::Finished}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.notes.empty() ? 0 : c.notes[0].kind);
        EXPECT_EQ(logMapBlocks(records, c.notes, std::nullopt), c.blocks);
    }
}

TEST(RescueMap, FormatHasStatusLineAndOneLinePerBlock)
{
    const std::string map =
        formatRescueMap({{0, 0x10, S::Finished}, {0x10, 0x2000, S::BadSector}}, "a\nb");
    EXPECT_EQ(map,
              "# a\n# b\n"
              "# current_pos  current_status  current_pass\n"
              "0x00000000     +               1\n"
              "#      pos        size  status\n"
              "0x00000000  0x00000010  +\n"
              "0x00000010  0x00002000  -\n");
}

}  // namespace
}  // namespace tessaly
