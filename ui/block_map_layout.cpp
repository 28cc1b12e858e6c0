#include "ui/block_map_layout.h"

#include <algorithm>

namespace tessaly {

namespace {

std::uint64_t regionEnd(const BadRegion& region)
{
    return std::uint64_t{region.offset} + region.length;
}

bool byOffset(const BadRegion& a, const BadRegion& b)
{
    return a.offset < b.offset;
}

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

BlockMapGrid blockMapGrid(int width, int height, std::uint32_t total, std::uint32_t unit)
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
    m_grid = {};
    m_fullRepaint = true;
    m_changed = false;
    m_firstCellToDraw = 0;
    m_cursorAtFirst = 0;
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
    for (const BadRegion& region : newRegions) {
        if (region.length == 0) continue;
        m_changed = true;
        if (region.offset < settled) m_fullRepaint = true;
        if (m_regions.empty() || !byOffset(region, m_regions.back())) {
            m_regions.push_back(region);
            continue;
        }
        // Out of order: keep the list ascending for the forward walk, and redraw all.
        m_regions.insert(std::upper_bound(m_regions.begin(), m_regions.end(), region, byOffset),
                         region);
        m_fullRepaint = true;
    }
}

// The state of the cell that begins at start; moves cursor past the regions that end at
// or before start, so a walk over ascending cells reads each region once.
CellState BlockMapLayout::stateAt(std::uint64_t start, std::size_t& cursor) const
{
    const std::uint64_t done = m_progress.done;
    if (start > done) return CellState::NotReached;
    const std::uint64_t end = start + m_grid.bytesPerCell;
    if (m_progress.done != m_progress.total && done < end) return CellState::Current;
    while (cursor < m_regions.size() && regionEnd(m_regions[cursor]) <= start) ++cursor;
    const bool unread = cursor < m_regions.size() && m_regions[cursor].offset < end;
    return unread ? CellState::Unread : CellState::Read;
}

BlockMapLayout::Walk BlockMapLayout::walk()
{
    Walk result;
    if (!m_fullRepaint && !m_changed) return result;
    result.full = m_fullRepaint;
    if (result.full) {
        m_firstCellToDraw = 0;
        m_cursorAtFirst = 0;
    }
    m_fullRepaint = false;
    m_changed = false;
    std::size_t cursor = m_cursorAtFirst;
    const int count = m_grid.cellCount();
    for (int i = m_firstCellToDraw; i < count; ++i) {
        const std::uint64_t start = m_grid.cellStart(i);
        // Cells past the position are white since the last full repaint.
        if (start > m_progress.total || (!result.full && start > m_progress.done)) break;
        const CellState state = stateAt(start, cursor);
        if (state == CellState::Current) {
            m_firstCellToDraw = i;
            m_cursorAtFirst = cursor;
        }
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
    // The regions may overlap one another: count each unread byte once.
    std::uint64_t counted = start;
    for (const BadRegion& region : m_regions) {
        if (region.offset >= end) break;
        const std::uint64_t from = std::max<std::uint64_t>(region.offset, counted);
        const std::uint64_t to = std::min(regionEnd(region), end);
        if (to > from) {
            info.unreadBytes += to - from;
            counted = to;
        }
    }
    std::size_t cursor = 0;
    info.state = stateAt(start, cursor);
    return info;
}

}  // namespace tessaly
