#pragma once

// What the tests of the block map over a real copy share: the copy log's regions, the
// cells that hold them, and the cells the map shows in a colour.
#include <QColor>
#include <QImage>
#include <QPoint>
#include <set>
#include <string>
#include <vector>

#include "engine/bad_region.h"
#include "engine/copy_log.h"
#include "engine/plain_file.h"
#include "ui/block_map_control.h"
#include "ui/block_map_layout.h"

namespace tessaly::testing {

// The filled regions of the log at path (without the end record); none when it cannot
// be read.
inline std::vector<BadRegion> logRegions(const std::string& path)
{
    PlainFile file;
    std::vector<BadRegion> regions;
    if (!file.openExisting(path, Access::Read)) return regions;
    CopyLog log;
    log.bind(&file);
    if (log.readRegions(regions) < 0) return {};
    std::erase_if(regions, [](const BadRegion& r) { return r.length == 0; });
    return regions;
}

// The cells of the grid that hold a byte of one of the regions.
inline std::set<int> cellsOf(const std::vector<BadRegion>& regions, const BlockMapGrid& grid)
{
    std::set<int> cells;
    for (const BadRegion& r : regions) {
        const auto last = (std::uint64_t{r.offset} + r.length - 1) / grid.bytesPerCell;
        for (auto cell = r.offset / grid.bytesPerCell; cell <= last; ++cell) {
            cells.insert(static_cast<int>(cell));
        }
    }
    return cells;
}

// The cells of the map's grid whose middle shows colour on the screen.
inline std::set<int> cellsOfColour(BlockMapControl& map, const QColor& colour)
{
    const QImage screen = map.grab().toImage();
    std::set<int> cells;
    for (int i = 0; i < map.layout().grid().cellCount(); ++i) {
        const QPoint middle = map.cellOrigin(i) + QPoint(kCellSize / 2, kCellSize / 2);
        if (screen.pixelColor(middle) == colour) cells.insert(i);
    }
    return cells;
}

}  // namespace tessaly::testing
