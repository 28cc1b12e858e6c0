#include "tests/medium/sector_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

namespace tessaly {
namespace {

SectorState stateOf(const std::string& text)
{
    std::string error;
    auto map = parseSectorMap(text, &error);
    EXPECT_TRUE(map.has_value()) << error;
    return SectorState(map.value_or(SectorMap{}));
}

TEST(SectorMapTest, ParsesEveryStatementWithCommentsAndBlankLines)
{
    std::string error;
    const auto map = parseSectorMap(
        "# a worn floppy\n"
        "sector 1024\n"
        "\n"
        "bad 3\n"
        "bad 10-12   # scratch\n"
        "  weak 7 2\n"
        "slow 20-29 40\n"
        "remove-after 65536\n",
        &error);
    ASSERT_TRUE(map.has_value()) << error;
    EXPECT_EQ(map->sectorSize, 1024u);
    ASSERT_EQ(map->bad.size(), 2u);
    EXPECT_EQ(map->bad[1].first, 10u);
    EXPECT_EQ(map->bad[1].last, 12u);
    EXPECT_EQ(map->weak.at(7), 2u);
    ASSERT_EQ(map->slow.size(), 1u);
    EXPECT_EQ(map->slow[0].delayMs, 40u);
    EXPECT_EQ(map->removeAfter, 65536u);
}

TEST(SectorMapTest, RejectsMalformedLinesNamingTheLine)
{
    const char* wrong[] = {"frobnicate 3", "bad",           "bad 5-2",      "bad 3x",
                           "bad -3",       "weak 4",        "weak 4 -1",    "slow 1-2",
                           "sector 0",     "sector 4096 2", "remove-after", "bad 1 2"};
    for (const char* line : wrong) {
        SCOPED_TRACE(line);
        std::string error;
        EXPECT_FALSE(parseSectorMap(std::string("bad 1\n\n") + line + "\n", &error).has_value());
        EXPECT_EQ(error.rfind("line 3: ", 0), 0u) << error;
    }
}

TEST(SectorStateTest, AReadTouchingABadSectorFailsWholeAndItsNeighboursStillRead)
{
    SectorState state = stateOf("sector 512\nbad 4-5\n");
    const std::uint64_t size = 16 * 512;
    EXPECT_EQ(state.read(0, 4 * 512, size).bytes, 4u * 512);  // ends just before sector 4
    EXPECT_EQ(state.read(4 * 512 - 1, 2, size).error, EIO);   // one byte of sector 4
    EXPECT_EQ(state.read(0, 8192, size).error, EIO);
    EXPECT_EQ(state.read(5 * 512 + 511, 1, size).error, EIO);
    EXPECT_EQ(state.read(6 * 512, 512, size).bytes, 512u);
}

TEST(SectorStateTest, SectorsPastTheEndOfTheFileAreNotTouched)
{
    SectorState state = stateOf("bad 2\n");
    // The file ends inside sector 1: a large read stops there and meets no bad sector.
    const ReadDecision decision = state.read(0, 4096, 700);
    EXPECT_EQ(decision.error, 0);
    EXPECT_EQ(decision.bytes, 700u);
    EXPECT_EQ(state.read(700, 512, 700).bytes, 0u);
}

TEST(SectorStateTest, AWeakSectorFailsItsFirstReadsOnlyAndCountsEveryTouch)
{
    SectorState state = stateOf("weak 2 2\nweak 3 1\nbad 8\n");
    const std::uint64_t size = 16 * 512;
    EXPECT_EQ(state.read(2 * 512, 512, size).error, EIO);
    // This read fails for the bad sector, yet it is a touch of weak sector 2 and 3.
    EXPECT_EQ(state.read(2 * 512, 7 * 512, size).error, EIO);
    EXPECT_EQ(state.read(2 * 512, 2 * 512, size).bytes, 1024u);
    EXPECT_EQ(state.read(3 * 512, 512, size).bytes, 512u);

    SectorState never = stateOf("weak 0 0\n");
    EXPECT_EQ(never.read(0, 512, size).bytes, 512u);
}

TEST(SectorStateTest, TheMediumGoesAwayAfterTheGivenBytesAndStaysAway)
{
    SectorState state = stateOf("bad 1\nremove-after 1000\n");
    const std::uint64_t size = 8 * 512;
    EXPECT_EQ(state.read(0, 512, size).bytes, 512u);
    EXPECT_EQ(state.read(512, 512, size).error, EIO);  // failed reads serve nothing
    // The read that reaches the limit is cut short at it.
    EXPECT_EQ(state.read(1024, 1024, size).bytes, 488u);
    EXPECT_EQ(state.read(2048, 512, size).error, ENOMEDIUM);
    EXPECT_EQ(state.read(0, 512, size).error, ENOMEDIUM);
    EXPECT_EQ(state.read(size, 512, size).error, ENOMEDIUM);

    SectorState gone = stateOf("remove-after 0\n");
    EXPECT_EQ(gone.read(0, 512, size).error, ENOMEDIUM);
}

TEST(SectorStateTest, SlowRangesGiveTheLongestWaitOfTheSectorsTouched)
{
    std::string error;
    const auto map = parseSectorMap("slow 2-3 50\nslow 3-9 20\nslow 12 5\n", &error);
    ASSERT_TRUE(map.has_value()) << error;
    EXPECT_EQ(map->delayFor(0, 1), 0u);
    EXPECT_EQ(map->delayFor(1, 2), 50u);
    EXPECT_EQ(map->delayFor(4, 12), 20u);
    EXPECT_EQ(map->delayFor(12, 12), 5u);
}

TEST(SectorMapTest, AWrittenMapReadsBackTheSame)
{
    std::string error;
    const auto map = parseSectorMap(
        "sector 2048\nbad 7\nbad 9-11\nweak 3 4\nslow 0-1 15\nremove-after 99\n", &error);
    ASSERT_TRUE(map.has_value()) << error;
    const auto again = parseSectorMap(formatSectorMap(*map), &error);
    ASSERT_TRUE(again.has_value()) << error;
    EXPECT_EQ(formatSectorMap(*again), formatSectorMap(*map));
    EXPECT_EQ(again->sectorSize, 2048u);
    EXPECT_EQ(again->bad.size(), 2u);
    EXPECT_EQ(again->weak, map->weak);
    EXPECT_EQ(again->removeAfter, 99u);
}

TEST(ImagePatternTest, PiecesMatchTheWholeAndSeedsAndSectorsDiffer)
{
    std::string whole(4096, '\0');
    fillPattern(whole.data(), whole.size(), 0, 5);
    std::string pieces(4096, '\0');
    for (std::size_t at = 0; at < pieces.size(); at += 333) {
        const std::size_t n = std::min<std::size_t>(333, pieces.size() - at);
        fillPattern(pieces.data() + at, n, at, 5);
    }
    EXPECT_EQ(pieces, whole);
    std::string other(4096, '\0');
    fillPattern(other.data(), other.size(), 0, 6);
    EXPECT_NE(other.substr(0, 512), whole.substr(0, 512));
    for (std::size_t sector = 1; sector < 8; ++sector) {
        EXPECT_NE(whole.substr(sector * 512, 512), whole.substr(0, 512)) << sector;
    }
}

}  // namespace
}  // namespace tessaly
