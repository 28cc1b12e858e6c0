#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/bad_region.h"
#include "engine/copy_log.h"

namespace tessaly {

// One block of a rescue map: a byte range and its state, with the state letters of
// the GNU ddrescue mapfile (which never change).
struct MapBlock
{
    enum class Status : char
    {
        NonTried = '?',
        NonTrimmed = '*',
        BadSector = '-',
        Finished = '+'
    };

    std::uint64_t position = 0;
    std::uint64_t size = 0;
    Status status = Status::Finished;
    bool operator==(const MapBlock&) const = default;
};

// The blocks of a copy as its log's records describe them: the filled regions,
// merged where they overlap or touch and in ascending order, as bad sectors; the
// rest up to the end record's offset (or the furthest region's end, whichever is
// further) as finished; from there up to fileSize as not tried. A last record that
// is not an end record is a region of a run that never ended. Contiguous from 0,
// no block empty. nullopt when fileSize lies before the end of what the log covers.
// The regions' bytes from notTriedFrom on (a log's record of its phases: the areas
// not tried yet) are not tried rather than bad sectors, and those before it from
// untrimmedFrom on (the trim pass has not got there yet) are not trimmed.
std::optional<std::vector<MapBlock>> mapBlocks(
    const std::vector<BadRegion>& records, std::optional<std::uint64_t> fileSize,
    std::optional<std::uint64_t> notTriedFrom = std::nullopt,
    std::optional<std::uint64_t> untrimmedFrom = std::nullopt);

// The blocks of a copy log of those records and annotations: the areas its record of
// the phases (kind 4) lists as not tried; its filled regions as not trimmed while the
// phases run, and from the offset on that a record of the trim pass (kind 3) gives.
std::optional<std::vector<MapBlock>> logMapBlocks(const std::vector<BadRegion>& records,
                                                  const std::vector<LogAnnotation>& annotations,
                                                  std::optional<std::uint64_t> fileSize);

// The blocks as a mapfile that GNU ddrescue and its viewers read: heading comments
// (each line of heading gets a leading "# "), the status line, one line per block.
std::string formatRescueMap(const std::vector<MapBlock>& blocks, const std::string& heading);

}  // namespace tessaly
