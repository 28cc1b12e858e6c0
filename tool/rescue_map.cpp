#include "tool/rescue_map.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "engine/region_map.h"

namespace tessaly {

std::optional<std::vector<MapBlock>> mapBlocks(const std::vector<BadRegion>& records,
                                               std::optional<std::uint64_t> fileSize,
                                               std::optional<std::uint64_t> notTriedFrom,
                                               std::optional<std::uint64_t> untrimmedFrom)
{
    const RegionMap bad(records);
    std::uint64_t covered = bad.reach();
    if (!records.empty() && records.back().length == 0) {
        covered = std::max<std::uint64_t>(covered, records.back().offset);
    }
    if (fileSize && *fileSize < covered) return std::nullopt;

    std::vector<MapBlock> blocks;
    std::uint64_t pos = 0;
    auto add = [&](std::uint64_t end, MapBlock::Status status) {
        if (end <= pos) return;
        blocks.push_back({pos, end - pos, status});
        pos = end;
    };
    // The map's regions neither overlap nor touch: a finished block lies between any two.
    for (const Region& r : bad) {
        add(r.offset, MapBlock::Status::Finished);
        const std::uint64_t tried =
            notTriedFrom ? std::clamp(*notTriedFrom, r.offset, r.end()) : r.end();
        add(untrimmedFrom ? std::clamp(*untrimmedFrom, r.offset, tried) : tried,
            MapBlock::Status::BadSector);
        add(tried, MapBlock::Status::NonTrimmed);
        add(r.end(), MapBlock::Status::NonTried);
    }
    add(covered, MapBlock::Status::Finished);
    if (fileSize) add(*fileSize, MapBlock::Status::NonTried);
    return blocks;
}

std::optional<std::vector<MapBlock>> logMapBlocks(const std::vector<BadRegion>& records,
                                                  const std::vector<LogAnnotation>& annotations,
                                                  std::optional<std::uint64_t> fileSize)
{
    const std::optional<PhasePoint> phase = phasePointOf(annotations);
    const std::optional<PassPoint> pass = passPointOf(annotations);
    std::optional<std::uint64_t> untrimmed;
    if (phase)
        untrimmed = 0;
    else if (pass && pass->pass == 0)
        untrimmed = pass->offset;
    return mapBlocks(records, fileSize, phase ? std::optional(phase->boundary) : std::nullopt,
                     untrimmed);
}

std::string formatRescueMap(const std::vector<MapBlock>& blocks, const std::string& heading)
{
    std::string out;
    std::size_t start = 0;
    while (start <= heading.size() && !heading.empty()) {
        const std::size_t nl = heading.find('\n', start);
        const std::size_t end = nl == std::string::npos ? heading.size() : nl;
        out += "# " + heading.substr(start, end - start) + "\n";
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    char line[96];
    // The run is over: ddrescue resumes such a map with its retry passes.
    out += "# current_pos  current_status  current_pass\n";
    std::snprintf(line, sizeof line, "0x%08" PRIX64 "     +               1\n", std::uint64_t{0});
    out += line;
    out += "#      pos        size  status\n";
    for (const MapBlock& b : blocks) {
        std::snprintf(line, sizeof line, "0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", b.position,
                      b.size, static_cast<char>(b.status));
        out += line;
    }
    return out;
}

}  // namespace tessaly
