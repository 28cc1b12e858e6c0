#include "ui/block_map_layout.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace tessaly {
namespace {

// Client sizes that give a known grid: 4 + 9 x cells pixels hold that many cells.
constexpr int pixelsFor(int cells)
{
    return 2 * kMapMargin + cells * kCellPitch;
}

// One letter a cell: w white, b blue, r red, g green, y yellow.
char letterOf(CellState state)
{
    return "wbrgy"[static_cast<int>(state)];
}

std::string letters(const BlockMapLayout::Walk& walk)
{
    std::string text;
    for (const CellPaint& cell : walk.cells) text += letterOf(cell.state);
    return text;
}

struct MapCase
{
    const char* name;
    int width;
    int height;
    BlockMapProgress progress;  // total, done, unit
    std::vector<BadRegion> regions;
    std::uint64_t bytesPerCell;
    std::string cells;  // the full repaint, cell by cell from index 0
};

// A full repaint of 4 cells in a row (or what the case's area gives).
const std::vector<MapCase> kCases = {
    {"LengthZeroShowsNoCell", 100, 100, {0, 0, 512}, {}, 0, ""},
    {"AreaNarrowerThan13PixelsShowsNoCell", 12, 100, {4096, 0, 512}, {}, 0, ""},
    {"AreaLowerThan13PixelsShowsNoCell", 100, 12, {4096, 0, 512}, {}, 0, ""},
    {"AreaOf13PixelsHoldsOneCell", 13, 13, {4096, 4096, 512}, {}, 4096, "b"},
    {"FileShorterThanOneUnitShowsOnlyTheFirstCellGreen",
     pixelsFor(4),
     13,
     {100, 50, 512},
     {},
     512,
     "g"},
    {"FileShorterThanOneUnitAtItsStart", pixelsFor(4), 13, {100, 0, 512}, {}, 512, "g"},
    {"DoneEqualToTotalLeavesNoGreen",
     pixelsFor(4),
     13,
     {2048, 2048, 512},
     {{512, 512}},
     512,
     "brbb"},
    {"RegionTouchingACellOnlyAtItsEndLeavesItBlue",
     pixelsFor(4),
     13,
     {2048, 2048, 512},
     {{1024, 512}},
     512,
     "bbrb"},
    {"RegionEndingAtACellStartLeavesItBlue",
     pixelsFor(4),
     13,
     {2048, 2048, 512},
     {{0, 512}},
     512,
     "rbbb"},
    {"AdjacentRegionsMakeEachOfTheirCellsRed",
     pixelsFor(4),
     13,
     {2048, 2048, 512},
     {{0, 512}, {512, 512}, {1536, 1}},
     512,
     "rrbr"},
    {"RegionOfOneByteInsideACell", pixelsFor(4), 13, {2048, 2048, 512}, {{1500, 1}}, 512, "bbrb"},
    {"RegionOverManyCells", pixelsFor(4), 13, {2048, 2048, 512}, {{100, 1400}}, 512, "rrrb"},
    {"CellStartingAtTotalIsStillDrawn", pixelsFor(4), 13, {1024, 1024, 512}, {}, 512, "bbb"},
    {"CellsPastThePositionAreWhite", pixelsFor(4), 13, {2048, 700, 512}, {{0, 512}}, 512, "rgww"},
    {"PositionOnACellStartMakesThatCellGreen",
     pixelsFor(4),
     13,
     {2048, 1024, 512},
     {},
     512,
     "bbgw"},
    {"GreenOutranksRed", pixelsFor(4), 13, {2048, 600, 512}, {{512, 88}}, 512, "bgww"},
    {"BytesPerCellRoundUpToTheUnit", pixelsFor(4), 13, {5000, 5000, 512}, {}, 1536, "bbbb"},
    {"BytesBeyondTheGridAreNotShown", pixelsFor(2), 13, {5001, 5001, 1}, {{5000, 1}}, 2500, "bb"},
    {"MediumWithoutSectorSizeCountsBytes", pixelsFor(4), 13, {6, 6, 0}, {}, 1, "bbbb"},
    {"TwoRows", pixelsFor(3), pixelsFor(2), {3072, 3000, 512}, {{2048, 512}}, 512, "bbbbrg"},
};

void PrintTo(const MapCase& c, std::ostream* out)
{
    *out << c.name;
}

class BlockMapCellTest : public ::testing::TestWithParam<MapCase>
{
};

TEST_P(BlockMapCellTest, FullRepaint)
{
    const MapCase& c = GetParam();
    BlockMapLayout layout;
    layout.setClientSize(c.width, c.height);
    layout.update(c.progress, c.regions);
    EXPECT_EQ(layout.grid().bytesPerCell, c.bytesPerCell);
    const BlockMapLayout::Walk walk = layout.walk();
    EXPECT_TRUE(walk.full);
    EXPECT_EQ(letters(walk), c.cells);
    for (std::size_t i = 0; i < walk.cells.size(); ++i) {
        EXPECT_EQ(walk.cells[i].index, static_cast<int>(i));
        // The tooltip tells the same state as the colour.
        EXPECT_EQ(layout.cellInfo(static_cast<int>(i)).state, walk.cells[i].state) << i;
    }
    EXPECT_FALSE(layout.cellInfo(static_cast<int>(walk.cells.size())).shown);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, BlockMapCellTest, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(BlockMapGridTest, CellsReachingPast4GiBStopAtTheEndOfTheFile)
{
    // 1600 cells of 2,686,976 bytes: the last cell would begin at 4,296,474,624, past
    // the file's end, but at 1,507,328 if the starts were counted in 32 bits.
    BlockMapLayout layout;
    layout.setClientSize(pixelsFor(40), pixelsFor(40));
    layout.update({0xFFFFFFFFu, 0xFFFFFFFFu, 4096}, {{0xFFFFF000u, 4096}});
    EXPECT_EQ(layout.grid().bytesPerCell, 2686976u);
    const std::string cells = letters(layout.walk());
    EXPECT_EQ(cells, std::string(1598, 'b') + "r");
}

TEST(BlockMapGridTest, AFileOf5GiBPlacesARegionAt4AndAHalfGiBInItsCell)
{
    // 10 x 10 cells over 5 GiB: 53,690,368 bytes a cell (whole 4096-byte units), so
    // the region at 4.5 GiB lies in cell 89 and nowhere else.
    constexpr std::uint64_t kGiB = 1ull << 30;
    constexpr std::uint64_t kTotal = 5 * kGiB;
    constexpr std::uint64_t kRegion = 4 * kGiB + kGiB / 2;
    BlockMapLayout layout;
    layout.setClientSize(pixelsFor(10), pixelsFor(10));
    layout.update({kTotal, kTotal, 4096}, {{kRegion, 8192}, {kTotal, 0}});
    ASSERT_EQ(layout.grid().cellCount(), 100);
    const std::uint64_t perCell = layout.grid().bytesPerCell;
    EXPECT_EQ(perCell, (kTotal / 100 + 4095) / 4096 * 4096);

    const int expected = static_cast<int>(kRegion / perCell);
    EXPECT_EQ(expected, 89);
    std::string cells(static_cast<std::size_t>(expected), 'b');
    cells += 'r';
    cells += std::string(static_cast<std::size_t>(100 - expected - 1), 'b');
    EXPECT_EQ(letters(layout.walk()), cells);

    const CellInfo info = layout.cellInfo(expected);
    EXPECT_TRUE(info.shown);
    EXPECT_EQ(info.first, static_cast<std::uint64_t>(expected) * perCell);
    EXPECT_LE(info.first, kRegion);
    EXPECT_GT(info.end, kRegion + 8192);
    EXPECT_EQ(info.unreadBytes, 8192u);
    EXPECT_EQ(info.state, CellState::Unread);
    // The last cell ends with the file, past 4 GiB.
    const CellInfo last = layout.cellInfo(99);
    EXPECT_EQ(last.end, kTotal);
    EXPECT_EQ(last.unreadBytes, 0u);
}

TEST(BlockMapGridTest, CellUnderAPixel)
{
    const BlockMapGrid grid = blockMapGrid(pixelsFor(3), pixelsFor(2), 3072, 512);
    ASSERT_EQ(grid.cellCount(), 6);
    EXPECT_EQ(grid.cellAt(2, 2), 0);    // the first pixel of the first border
    EXPECT_EQ(grid.cellAt(9, 9), 0);    // its last pixel
    EXPECT_EQ(grid.cellAt(10, 5), -1);  // the gap between two cells
    EXPECT_EQ(grid.cellAt(1, 5), -1);   // the margin
    EXPECT_EQ(grid.cellAt(11, 11), 4);
    EXPECT_EQ(grid.cellAt(20, 11), 5);
    EXPECT_EQ(grid.cellAt(29, 11), -1);  // right of the grid
    EXPECT_EQ(grid.cellAt(11, 20), -1);  // below it
    EXPECT_EQ(grid.cellLeft(5), 20);
    EXPECT_EQ(grid.cellTop(5), 11);
}

// A scripted copy of total bytes: the position moves on, and now and then the sectors
// at the position become a region.
struct ScriptedCopy
{
    BlockMapProgress progress;
    std::vector<BadRegion> regions;
    std::mt19937 random;

    ScriptedCopy(std::uint32_t total, std::uint32_t seed) : progress{total, 0, 512}, random(seed) {}

    // Moves on by up to step bytes; returns the regions added on the way.
    std::vector<BadRegion> advance(std::uint32_t step)
    {
        std::vector<BadRegion> added;
        const std::uint64_t target =
            std::min(progress.total,
                     progress.done + std::uniform_int_distribution<std::uint32_t>(0, step)(random));
        while (progress.done < target) {
            const std::uint64_t length = std::min<std::uint64_t>(512, progress.total - progress.done);
            if (random() % 4 == 0) added.push_back({progress.done, length});
            progress.done += length;
        }
        regions.insert(regions.end(), added.begin(), added.end());
        return added;
    }
};

// The picture as one state a cell: what the walks drew so far.
void paintInto(std::vector<CellState>& picture, const BlockMapLayout::Walk& walk)
{
    if (walk.full) std::fill(picture.begin(), picture.end(), CellState::NotReached);
    for (const CellPaint& cell : walk.cells) picture.at(cell.index) = cell.state;
}

TEST(BlockMapWalkTest, IncrementalWalksGiveTheFullRepaintOfTheSameState)
{
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        ScriptedCopy copy(300000 + seed * 1237, seed);
        BlockMapLayout incremental;
        incremental.setClientSize(pixelsFor(12), pixelsFor(10));
        std::vector<CellState> picture(120);
        std::size_t walked = 0;
        int polls = 0;
        while (copy.progress.done < copy.progress.total) {
            const std::vector<BadRegion> added = copy.advance(20000);
            incremental.update(copy.progress, added);
            const BlockMapLayout::Walk walk = incremental.walk();
            walked += walk.cells.size();
            paintInto(picture, walk);
            ++polls;

            BlockMapLayout full;
            full.setClientSize(pixelsFor(12), pixelsFor(10));
            full.update(copy.progress, copy.regions);
            std::vector<CellState> expected(120);
            paintInto(expected, full.walk());
            ASSERT_EQ(picture, expected) << "seed " << seed << ", done " << copy.progress.done;
        }
        // One full repaint, then each poll from the last green cell on.
        EXPECT_LE(walked, 2u * 120u + polls) << seed;
    }
}

TEST(BlockMapWalkTest, WalksOnlyFromTheLastGreenCellToThePosition)
{
    BlockMapLayout layout;
    layout.setClientSize(pixelsFor(8), 13);
    layout.update({8 * 512, 700, 512}, {});
    EXPECT_EQ(layout.walk().cells.size(), 8u);  // the full repaint: every cell

    layout.update({8 * 512, 2100, 512}, {{1024, 512}});
    BlockMapLayout::Walk walk = layout.walk();
    EXPECT_FALSE(walk.full);
    EXPECT_EQ(walk.cells, (std::vector<CellPaint>{{1, CellState::Read},
                                                  {2, CellState::Unread},
                                                  {3, CellState::Read},
                                                  {4, CellState::Current}}));

    // Nothing new: nothing to draw.
    layout.update({8 * 512, 2100, 512}, {});
    EXPECT_TRUE(layout.walk().cells.empty());

    // The end of the file: the last green cell and the rest turn blue.
    layout.update({8 * 512, 8 * 512, 512}, {});
    walk = layout.walk();
    EXPECT_FALSE(walk.full);
    ASSERT_EQ(walk.cells.size(), 4u);
    EXPECT_EQ(walk.cells.front(), (CellPaint{4, CellState::Read}));
    EXPECT_EQ(walk.cells.back(), (CellPaint{7, CellState::Read}));
}

TEST(BlockMapWalkTest, ChangesBehindTheGreenCellRepaintInFull)
{
    BlockMapLayout layout;
    layout.setClientSize(pixelsFor(8), 13);
    layout.update({4096, 3000, 512}, {});
    layout.walk();

    layout.update({4096, 3000, 512}, {{100, 10}});  // a region behind the position
    BlockMapLayout::Walk walk = layout.walk();
    EXPECT_TRUE(walk.full);
    EXPECT_EQ(letters(walk), "rbbbbgww");

    layout.update({4096, 1000, 512}, {});  // the position went back
    EXPECT_TRUE(layout.walk().full);

    layout.update({4096, 4096, 512}, {{3500, 10}, {2000, 10}});  // out of order
    walk = layout.walk();
    EXPECT_TRUE(walk.full);
    EXPECT_EQ(letters(walk), "rbbrbbrb");

    layout.setClientSize(pixelsFor(8), 14);  // the same grid, but a new picture
    EXPECT_TRUE(layout.walk().full);

    // Areas not tried yet (the easy data first) are yellow over blue and red; a change of
    // them repaints in full, and so does their end.
    layout.walk();
    layout.setNotTried({{600, 1000}, {3584, 1}});
    walk = layout.walk();
    EXPECT_TRUE(walk.full);
    EXPECT_EQ(letters(walk), "ryyybbry");
    EXPECT_EQ(layout.cellInfo(1).state, CellState::NotTried);
    layout.setNotTried({{600, 1000}, {3584, 1}});
    EXPECT_TRUE(layout.walk().cells.empty());
    layout.setNotTried({});
    walk = layout.walk();
    EXPECT_TRUE(walk.full);
    EXPECT_EQ(letters(walk), "rbbrbbrb");
}

TEST(BlockMapWalkTest, ResetForgetsTheFile)
{
    BlockMapLayout layout;
    layout.setClientSize(pixelsFor(4), 13);
    layout.update({2048, 2048, 512}, {{0, 512}});
    layout.walk();
    layout.reset();
    EXPECT_EQ(layout.regionCount(), 0u);
    const BlockMapLayout::Walk walk = layout.walk();
    EXPECT_TRUE(walk.full);
    EXPECT_TRUE(walk.cells.empty());
    layout.update({2048, 0, 512}, {});
    EXPECT_EQ(letters(layout.walk()), "gwww");
}

TEST(BlockMapWalkTest, FollowsAnAppendedListFromItsRegionCount)
{
    // The control takes the source's regions from regionCount() on: a region of length 0
    // counts as taken too, or the next poll takes the ones behind it again.
    BlockMapLayout layout;
    layout.setClientSize(pixelsFor(8), 13);
    std::vector<BadRegion> list{{0, 0}, {600, 10}};
    layout.update({4096, 3000, 512}, list);
    layout.walk();
    EXPECT_EQ(layout.regionCount(), 2u);

    list.push_back({3000, 10});
    const auto from = list.begin() + static_cast<std::ptrdiff_t>(layout.regionCount());
    layout.update({4096, 3100, 512}, {from, list.end()});
    const BlockMapLayout::Walk walk = layout.walk();
    EXPECT_FALSE(walk.full);
    EXPECT_EQ(walk.cells,
              (std::vector<CellPaint>{{5, CellState::Unread}, {6, CellState::Current}}));
    EXPECT_EQ(layout.regionCount(), 3u);
}

TEST(BlockMapCellInfoTest, CountsTheUnreadBytesOfACellOnce)
{
    BlockMapLayout layout;
    layout.setClientSize(pixelsFor(4), 13);
    layout.update({2000, 1900, 512}, {{500, 30}, {510, 10}, {1000, 100}, {1536, 0}, {1600, 9}});
    layout.walk();

    CellInfo info = layout.cellInfo(0);
    EXPECT_EQ(info.first, 0u);
    EXPECT_EQ(info.end, 512u);
    EXPECT_EQ(info.unreadBytes, 12u);  // 500..511, the overlap counted once
    EXPECT_EQ(info.state, CellState::Unread);

    info = layout.cellInfo(1);
    EXPECT_EQ(info.unreadBytes, 18u + 24u);  // 512..529 once, and 1000..1023
    info = layout.cellInfo(2);
    EXPECT_EQ(info.unreadBytes, 76u);
    EXPECT_EQ(info.state, CellState::Unread);

    info = layout.cellInfo(3);  // the position, in a cell cut short by the file's end
    EXPECT_EQ(info.first, 1536u);
    EXPECT_EQ(info.end, 2000u);
    EXPECT_EQ(info.unreadBytes, 9u);  // the region of length 0 holds nothing
    EXPECT_EQ(info.state, CellState::Current);

    EXPECT_FALSE(layout.cellInfo(-1).shown);
    EXPECT_FALSE(layout.cellInfo(4).shown);
}

}  // namespace
}  // namespace tessaly
