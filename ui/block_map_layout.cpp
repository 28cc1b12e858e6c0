#include "ui/block_map_layout.h"

#include <algorithm>

namespace tessaly {

namespace {

// Whole cells that fit into pixels of client area, after the margin on both sides.
int cellsAcross(int pixels)
{
    return pixels > 2 * kMapMargin ? (pixels - 2 * kMapMargin) / kCellPitch : 0;
}

}  // namespace

int BlockMapGrid::cellAt(int x, int y) const
{
    if (cellCount() == 0 || x < kMapMargin || y < kMapMargin) return -1;
    const int column = (x - kMapMargin) / kCellPitch;
    const int row = (y - kMapMargin) / kCellPitch;
    if (column >= columns || row >= rows) return -1;
    if ((x - kMapMargin) % kCellPitch >= kCellSize || (y - kMapMargin) % kCellPitch >= kCellSize) {
        return -1;
    }
    return row * columns + column;
}

BlockMapGrid blockMapGrid(int width, int height, std::uint64_t total, std::uint32_t unit)
{
    const int columns = cellsAcross(width);
    const int rows = cellsAcross(height);
    if (total == 0 || columns == 0 || rows == 0) return {};
    // A medium that reports no sector size still gets cells of whole bytes.
    const std::uint64_t step = std::max<std::uint32_t>(unit, 1);
    std::uint64_t bytes = total / (static_cast<std::uint64_t>(columns) * rows);
    bytes = bytes < step ? step : (bytes + step - 1) / step * step;
    return {columns, rows, bytes};
}

void BlockMapLayout::reset()
{
    m_progress = {};
    m_regions.clear();
    m_notTried.clear();
    m_taken = 0;
    m_lastOffset = 0;
    m_grid = {};
    m_fullRepaint = true;
    m_changed = false;
    m_firstCellToDraw = 0;
}

void BlockMapLayout::setClientSize(int width, int height)
{
    if (width == m_width && height == m_height) return;
    m_width = width;
    m_height = height;
    regrid();
    m_fullRepaint = true;
}

void BlockMapLayout::regrid()
{
    m_grid = blockMapGrid(m_width, m_height, m_progress.total, m_progress.unit);
}

void BlockMapLayout::update(const BlockMapProgress& progress,
                            const std::vector<BadRegion>& newRegions)
{
    if (progress != m_progress) {
        // Only a growing position keeps the cells before the current one valid.
        if (progress.total != m_progress.total || progress.unit != m_progress.unit ||
            progress.done < m_progress.done) {
            m_fullRepaint = true;
        }
        m_progress = progress;
        regrid();
        m_changed = true;
    }
    const std::uint64_t settled = m_grid.cellStart(m_firstCellToDraw);
    m_taken += newRegions.size();
    for (const BadRegion& region : newRegions) {
        if (region.length == 0) continue;
        m_changed = true;
        // A region behind the settled cells, or out of the copy's order: redraw all.
        if (region.offset < settled || region.offset < m_lastOffset) {
            m_fullRepaint = true;
        }
        m_lastOffset = std::max<std::uint64_t>(m_lastOffset, region.offset);
        m_regions.add(region);
    }
}

void BlockMapLayout::setNotTried(const std::vector<Region>& areas)
{
    if (areas == m_notTried) return;
    m_notTried = areas;
    m_fullRepaint = true;
    m_changed = true;
}

// The state of the cell that begins at start.
CellState BlockMapLayout::stateAt(std::uint64_t start) const
{
    const std::uint64_t done = m_progress.done;
    if (start > done) return CellState::NotReached;
    const std::uint64_t end = start + m_grid.bytesPerCell;
    if (m_progress.done != m_progress.total && done < end) return CellState::Current;
    // The first area not tried that ends after the cell's start.
    const auto after =
        std::upper_bound(m_notTried.begin(), m_notTried.end(), start,
                         [](std::uint64_t at, const Region& r) { return at < r.end(); });
    if (after != m_notTried.end() && after->offset < end) return CellState::NotTried;
    return m_regions.meets(start, end) ? CellState::Unread : CellState::Read;
}

BlockMapLayout::Walk BlockMapLayout::walk()
{
    Walk result;
    if (!m_fullRepaint && !m_changed) return result;
    result.full = m_fullRepaint;
    if (result.full) m_firstCellToDraw = 0;
    m_fullRepaint = false;
    m_changed = false;
    const int count = m_grid.cellCount();
    for (int i = m_firstCellToDraw; i < count; ++i) {
        const std::uint64_t start = m_grid.cellStart(i);
        // Cells past the position are white since the last full repaint.
        if (start > m_progress.total || (!result.full && start > m_progress.done)) break;
        const CellState state = stateAt(start);
        if (state == CellState::Current) m_firstCellToDraw = i;
        result.cells.push_back({i, state});
    }
    return result;
}

CellInfo BlockMapLayout::cellInfo(int index) const
{
    CellInfo info;
    if (index < 0 || index >= m_grid.cellCount()) return info;
    const std::uint64_t start = m_grid.cellStart(index);
    if (start > m_progress.total) return info;
    const std::uint64_t end = start + m_grid.bytesPerCell;
    info.shown = true;
    info.first = start;
    info.end = std::min<std::uint64_t>(end, m_progress.total);
    info.unreadBytes = m_regions.bytesIn(start, end);
    info.state = stateAt(start);
    return info;
}

}  // namespace tessaly
