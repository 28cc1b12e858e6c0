// The block map fed by a real copy over the simulated damaged medium: its red cells
// must be exactly the cells that hold the regions of the copy log.
#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/copy_engine.h"
#include "tests/gui/block_map_test_support.h"
#include "tests/medium/medium_mount.h"
#include "tests/support/engine_settings_edit.h"
#include "tests/support/test_folder.h"
#include "ui/block_map_control.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kSector = 512;
constexpr int kColumns = 16;
constexpr int kRows = 16;
constexpr char kImageVariable[] = "BLOCK_MAP_TEST_IMAGE";

// Polls like the copy driver until the copy has ended, with one more pass after busy
// clears; returns how many polls showed the copy under way.
int refreshWhileCopying(const CopyEngine& engine, BlockMapControl& map)
{
    int underWay = 0;
    bool saved = false;
    bool more = true;
    while (more) {
        more = engine.busy();
        map.refresh();
        QApplication::processEvents();
        const BlockMapProgress shown = map.layout().progress();
        if (shown.done > 0 && shown.done < shown.total) ++underWay;
        // BLOCK_MAP_TEST_IMAGE=file.png keeps a picture of the copy half done.
        if (shown.done >= shown.total / 2 && !saved && qEnvironmentVariableIsSet(kImageVariable)) {
            saved = map.grab().save(qEnvironmentVariable(kImageVariable));
        }
        sleepMs(20);
    }
    return underWay;
}

// The red cells on the screen; fails the test on a cell that is neither red nor blue.
std::set<int> redCells(BlockMapControl& map)
{
    const std::set<int> red = testing::cellsOfColour(map, QColor(255, 0, 0));
    const std::set<int> blue = testing::cellsOfColour(map, QColor(0, 0, 255));
    EXPECT_EQ(red.size() + blue.size(), static_cast<std::size_t>(map.layout().grid().cellCount()));
    return red;
}

TEST(BlockMapSystemTest, RedCellsAreTheCellsOfTheLogsRegions)
{
    // 1,024 sectors on 256 cells of 4 sectors. Sector 63 is the last of cell 15 and
    // touches cell 16 only at that cell's start; 401-409 span three cells.
    MediumMount medium;
    const std::string image = MediumMount::patternBytes(1024 * kSector, 12);
    ASSERT_TRUE(medium.addImage("disk/a.bin", image,
                                "bad 10-11\nbad 63\nbad 100\nbad 401-409\nbad 1023\n"
                                "slow 0-1023 2\n"));
    TESSALY_MOUNT_OR_SKIP(medium);
    const fs::path out = testing::freshTestFolder("tessaly-map");

    CopyEngine engine;
    // Every unreadable sector a region of its own.
    setSetting(engine, &EngineSettings::optimizeFor, 0.0f);
    setSetting(engine, &EngineSettings::autoRereads, false);
    setSetting(engine, &EngineSettings::rereadCount, 1);
    engine.setQueryCallback([](EngineQuery&) { return false; });
    EngineMapSource source(engine);
    BlockMapControl map;
    map.resize(QSize(4 + kColumns * kCellPitch, 4 + kRows * kCellPitch) + map.size() -
               map.contentsRect().size());
    map.setSource(&source);
    map.show();

    ASSERT_TRUE(engine.startFile(medium.path("disk/a.bin"), out.string(), ""));
    map.resetForNewFile();
    const int pollsWithGreen = refreshWhileCopying(engine, map);
    ASSERT_EQ(engine.status(), EngineStatus::Ok);
    EXPECT_GE(pollsWithGreen, 3);  // the map grew while the copy ran

    const std::vector<BadRegion> regions = testing::logRegions(engine.destinationPath() + ".log");
    ASSERT_EQ(regions.size(), 5u);  // the trim pass leaves one region per unreadable stretch
    const BlockMapGrid& grid = map.layout().grid();
    ASSERT_EQ(grid.cellCount(), kColumns * kRows);
    ASSERT_EQ(grid.bytesPerCell, 4u * kSector);
    const std::set<int> expectedRed = testing::cellsOf(regions, grid);
    EXPECT_EQ(expectedRed, (std::set<int>{2, 15, 25, 100, 101, 102, 255}));

    EXPECT_EQ(redCells(map), expectedRed);
    fs::remove_all(out);
}

}  // namespace
}  // namespace tessaly

// The widgets need an application for the whole run; offscreen unless the caller chose
// a platform.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
