// The block map's cost while a copy runs: a 4,000 MiB file with 200,000 unread
// sectors, replayed poll by poll as the copy driver would feed it, and full repaints of
// the largest grid. Prints "RESULT NAME VALUE UNIT" lines (see bench/README.md).
//
//   tessaly-block-map-bench [--polls N]
#include <QApplication>
#include <QScreen>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ui/block_map_control.h"

namespace tessaly {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSector = 512;
constexpr std::uint32_t kTotal = 4000u * 1024 * 1024;
constexpr std::uint32_t kRegions = 200000;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A copy replayed from a script: every region is known in advance and becomes visible
// once the position has passed it, as the engine adds it.
class ReplaySource : public BlockMapSource
{
public:
    ReplaySource()
    {
        const std::uint32_t sectors = kTotal / kSector;
        m_all.reserve(kRegions);
        for (std::uint32_t k = 0; k < kRegions; ++k) {
            // Spread over the file about 41 sectors apart, a little off an even spacing.
            const std::uint64_t sector = std::uint64_t{k} * sectors / kRegions + (k * 7919u) % 13;
            m_all.push_back({static_cast<std::uint32_t>(sector * kSector), kSector});
        }
        m_state = {kTotal, 0, kSector};
    }

    void moveTo(std::uint32_t done)
    {
        m_state.done = done;
        while (m_visible < m_all.size() && m_all[m_visible].offset < done) ++m_visible;
    }

    BlockMapProgress progress() const override { return m_state; }
    std::vector<BadRegion> regionsFrom(std::size_t first) const override
    {
        if (first >= m_visible) return {};
        return {m_all.begin() + static_cast<std::ptrdiff_t>(first),
                m_all.begin() + static_cast<std::ptrdiff_t>(m_visible)};
    }

private:
    std::vector<BadRegion> m_all;
    std::size_t m_visible = 0;
    BlockMapProgress m_state;
};

void result(const std::string& name, double value, const char* unit)
{
    std::printf("RESULT %s %.3f %s\n", name.c_str(), value, unit);
}

void setClientSize(BlockMapControl& map, QSize client)
{
    map.resize(client + map.size() - map.contentsRect().size());
}

// Shows map with a client area of client, fed from source.
void showFed(BlockMapControl& map, const ReplaySource& source, QSize client)
{
    setClientSize(map, client);
    map.setSource(&source);
    map.show();
}

// One copy from start to end, one refresh (and the repaint it asks for) per poll.
void replayCopy(const std::string& name, QSize client, int polls)
{
    ReplaySource source;
    BlockMapControl map;
    showFed(map, source, client);
    map.resetForNewFile();
    QApplication::processEvents();

    double first = 0;
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(polls));
    std::size_t cells = 0;
    for (int poll = 0; poll <= polls; ++poll) {
        source.moveTo(static_cast<std::uint32_t>(std::uint64_t{kTotal} * poll / polls));
        const Clock::time_point start = Clock::now();
        map.refresh();
        QApplication::processEvents();  // the repaint of the rows that changed
        const double ms = millisecondsSince(start);
        // The first poll of a file draws the whole grid; the rest only what changed.
        if (poll == 0) {
            first = ms;
            continue;
        }
        times.push_back(ms);
        cells += map.lastDrawnCells();
    }
    const BlockMapGrid& grid = map.layout().grid();
    std::fprintf(stderr, "%s: %dx%d cells of %llu bytes, %d polls, %zu regions\n", name.c_str(),
                 grid.columns, grid.rows, static_cast<unsigned long long>(grid.bytesPerCell), polls,
                 map.layout().regionCount());
    result("block_map_first_update_" + name, first, "ms");
    double sum = 0;
    for (const double ms : times) sum += ms;
    std::sort(times.begin(), times.end());
    result("block_map_update_avg_" + name, sum / polls, "ms");
    result("block_map_update_p99_" + name, times[times.size() * 99 / 100], "ms");
    result("block_map_update_max_" + name, times.back(), "ms");
    result("block_map_cells_per_update_" + name, static_cast<double>(cells) / polls, "cells");
}

// Full repaints of the finished file, as a resize makes them, against one plain fill of
// the same picture (the least any repaint costs).
void fullRepaints(QSize client, int rounds)
{
    ReplaySource source;
    source.moveTo(kTotal);
    BlockMapControl map;
    showFed(map, source, client);
    map.refresh();
    QApplication::processEvents();

    double sum = 0;
    for (int round = 0; round < rounds; ++round) {
        const QSize size = client + QSize(0, round % 2);  // the same grid, a new picture
        const Clock::time_point start = Clock::now();
        setClientSize(map, size);
        sum += millisecondsSince(start);
    }
    // Every cell up to the one that starts at or before the end of the file.
    const BlockMapGrid& grid = map.layout().grid();
    const std::uint64_t drawn =
        std::min<std::uint64_t>(grid.cellCount(), kTotal / grid.bytesPerCell + 1);
    if (map.lastDrawnCells() != drawn) {
        std::fprintf(stderr, "a resize drew %zu cells, not %llu\n", map.lastDrawnCells(),
                     static_cast<unsigned long long>(drawn));
        std::exit(1);
    }
    QImage plain(client, QImage::Format_RGB32);
    const Clock::time_point start = Clock::now();
    for (int round = 0; round < rounds; ++round) plain.fill(QColor(round, 0, 0));
    const double fill = millisecondsSince(start) / rounds;

    const double repaint = sum / rounds;
    result("block_map_full_repaint_largest", repaint, "ms");
    result("block_map_full_repaint_vs_plain_fill", repaint / std::max(fill, 1e-6), "x");
}

}  // namespace
}  // namespace tessaly

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int polls = 10000;  // 200 s of copying at one poll each 20 ms
    if (argc == 3 && std::strcmp(argv[1], "--polls") == 0) polls = std::max(1, std::atoi(argv[2]));
    QApplication application(argc, argv);
    // The detail view's frame of 171 x 182 dialog units at an 8-point dialog font.
    tessaly::replayCopy("frame", QSize(256, 296), polls);
    // The largest grid: a client area of a whole full-HD screen.
    tessaly::replayCopy("largest", QSize(1920, 1080), polls);
    tessaly::fullRepaints(QSize(1920, 1080), 40);
    return 0;
}
