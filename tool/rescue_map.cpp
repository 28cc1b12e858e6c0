#include "tool/rescue_map.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace tessaly {

std::optional<std::vector<MapBlock>> mapBlocks(const std::vector<BadRegion>& records,
                                               std::optional<std::uint64_t> fileSize)
{
    struct Range
    {
        std::uint64_t begin, end;
    };
    std::vector<Range> bad;
    std::uint64_t covered = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const BadRegion& r = records[i];
        if (r.length == 0) {
            if (i + 1 == records.size()) covered = std::max<std::uint64_t>(covered, r.offset);
            continue;
        }
        const std::uint64_t end = std::uint64_t{r.offset} + r.length;
        bad.push_back({r.offset, end});
        covered = std::max(covered, end);
    }
    if (fileSize && *fileSize < covered) return std::nullopt;

    std::sort(bad.begin(), bad.end(),
              [](const Range& a, const Range& b) { return a.begin < b.begin; });
    std::vector<MapBlock> blocks;
    std::uint64_t pos = 0;
    auto add = [&](std::uint64_t end, MapBlock::Status status) {
        if (end <= pos) return;
        if (!blocks.empty() && blocks.back().status == status) {
            blocks.back().size += end - pos;
        } else {
            blocks.push_back({pos, end - pos, status});
        }
        pos = end;
    };
    for (const Range& r : bad) {
        add(r.begin, MapBlock::Status::Finished);
        // Overlapping and touching regions join the bad block before them; a region
        // inside one already added extends nothing.
        add(r.end, MapBlock::Status::BadSector);
    }
    add(covered, MapBlock::Status::Finished);
    if (fileSize) add(*fileSize, MapBlock::Status::NonTried);
    return blocks;
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
