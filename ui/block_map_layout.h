#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/bad_region.h"
#include "engine/region_map.h"

namespace tessaly {

// The block map draws the file being copied as a grid of square cells of kCellSize
// pixels (a one-pixel black border around the colour), on a pitch of kCellPitch pixels,
// kMapMargin pixels from the top-left corner of the client area.
inline constexpr int kCellSize = 8;
inline constexpr int kCellPitch = kCellSize + 1;
inline constexpr int kMapMargin = 2;

// What a cell shows. Stored nowhere; the numbers only name the states in tests.
enum class CellState : std::uint8_t
{
    NotReached = 0,  // white: the copy has not come this far
    Read = 1,        // blue: every byte was read
    Unread = 2,      // red: overlaps a region that could not be read and was filled
    Current = 3,     // green: holds the position, while the copy is not finished
    NotTried = 4,    // yellow: below the position, holds bytes not tried yet (easy data first)
};

// How far the copy of one file has come, in the destination's byte coordinates.
struct BlockMapProgress
{
    std::uint64_t total = 0;  // length of the destination once the file is done
    std::uint64_t done = 0;   // the position the copy has reached
    std::uint32_t unit = 0;   // sector size of the source: a cell holds whole sectors
    bool operator==(const BlockMapProgress&) const = default;
};

// The cells that a client area and a file give.
struct BlockMapGrid
{
    int columns = 0;
    int rows = 0;
    std::uint64_t bytesPerCell = 0;  // 0 when no cell is shown
    bool operator==(const BlockMapGrid&) const = default;

    int cellCount() const { return bytesPerCell == 0 ? 0 : columns * rows; }
    // First byte of a cell; 64-bit, because the grid may reach past 4 GiB.
    std::uint64_t cellStart(int index) const
    {
        return static_cast<std::uint64_t>(index) * bytesPerCell;
    }
    // Top-left pixel of a cell's border in the client area.
    int cellLeft(int index) const { return kMapMargin + (index % columns) * kCellPitch; }
    int cellTop(int index) const { return kMapMargin + (index / columns) * kCellPitch; }
    // The cell whose square holds pixel (x, y), or -1 (between cells, outside the grid).
    int cellAt(int x, int y) const;
};

// The grid of a client area for a file of total bytes: no cell when total is 0 or the
// area holds no whole cell; bytes per cell are total / cells rounded up to whole units.
// Bytes beyond columns x rows cells are not shown.
BlockMapGrid blockMapGrid(int width, int height, std::uint64_t total, std::uint32_t unit);

// One cell to draw.
struct CellPaint
{
    int index = 0;
    CellState state = CellState::NotReached;
    bool operator==(const CellPaint&) const = default;
};

// What a cell stands for, for its tooltip.
struct CellInfo
{
    bool shown = false;       // false: no such cell is drawn
    std::uint64_t first = 0;  // first byte of the cell
    std::uint64_t end = 0;    // one past the cell's last byte of the file (== first when none)
    CellState state = CellState::NotReached;
    std::uint64_t unreadBytes = 0;  // bytes of the cell that lie in unread regions
};

// The map of one file: its progress, its unread regions and which cells the next walk
// must draw. Unread regions are only ever added where the copy has come to, so no cell
// before the current one changes again: after a full repaint each walk visits only the
// cells from the last current cell to the position. The regions come in ascending order
// of offset, as the copy adds them; one that does not makes the next walk a full repaint.
class BlockMapLayout
{
public:
    // Forgets the file: no progress, no regions; the next walk repaints in full.
    void reset();
    // The client area in pixels; a changed size makes the next walk a full repaint.
    void setClientSize(int width, int height);
    // Takes the progress and the regions added since the last call (regions of length 0
    // hold no byte). A progress that goes back or a grid that changes makes the next
    // walk a full repaint.
    void update(const BlockMapProgress& progress, const std::vector<BadRegion>& newRegions);
    // Takes the areas not tried yet; a change makes the next walk a full repaint.
    void setNotTried(const std::vector<Region>& areas);
    // The next walk repaints every cell.
    void requestFullRepaint() { m_fullRepaint = true; }

    // Returns the cells to draw now, in index order, and whether the picture must first
    // be cleared (a full repaint). Nothing when nothing changed since the last walk.
    struct Walk
    {
        bool full = false;
        std::vector<CellPaint> cells;
    };
    Walk walk();

    // What cell index stands for in the state last taken.
    CellInfo cellInfo(int index) const;

    const BlockMapGrid& grid() const { return m_grid; }
    const BlockMapProgress& progress() const { return m_progress; }
    // The number of regions taken since the last reset, each as it came: where the next
    // update goes on in a list that is only ever appended to.
    std::size_t regionCount() const { return m_taken; }

private:
    CellState stateAt(std::uint64_t start) const;
    void regrid();

    BlockMapProgress m_progress;
    RegionMap m_regions;
    std::vector<Region> m_notTried;
    std::size_t m_taken = 0;          // regions taken, as they came
    std::uint64_t m_lastOffset = 0;   // the highest offset of a region taken
    int m_width = 0;
    int m_height = 0;
    BlockMapGrid m_grid;
    bool m_fullRepaint = true;
    bool m_changed = false;           // progress or regions changed since the last walk
    int m_firstCellToDraw = 0;        // the cell that was current at the last walk
};

}  // namespace tessaly
