#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "engine/region_map.h"
#include "engine/trim_pass.h"

namespace tessaly {

// The longest filled region the retry passes read again. Shorter ones are isolated bad
// or weak blocks, worth another read; a longer run is a dead stretch, and the trim
// pass has already read its edges.
inline constexpr std::uint64_t kRetryRegionLimit = 65536;

// The odd retry passes go backward from the end of the file, the even ones forward.
inline bool passGoesBackward(std::uint32_t pass)
{
    return pass % 2 == 1;
}

// The passes that run after the trim pass: each reads every sector still filled in the
// regions of at most kRetryRegionLimit bytes once more, every source tried, and writes
// each sector it gets over its fill. The first pass goes backward from the end of the
// file, the next forward, and so on: a drive that gives a sector only when it comes
// from the other side gets both sides.
class RetryPass
{
public:
    // stop is read before every sector; a raised stop ends the passes at once.
    RetryPass(PassCopy copy, const std::atomic<bool>& stop);

    // Runs passes over the filled regions (destination offsets). Regions that start
    // before the destination base belong to an earlier copy under Append and are kept
    // as they are, as are the longer ones. progress is told, before each region, the
    // pass (from 1) and how many regions that pass has still to read, itself included,
    // and (0, 0) at the end. The passes stop early once no region is left to read.
    // from, when given, is where a run before stopped: the passes begin with its pass,
    // and read of it only what lies beyond its offset in its direction.
    PassResult run(const RegionMap& regions, std::uint32_t passes,
                   const std::function<void(std::uint32_t pass, std::size_t left)>& progress = {},
                   const std::optional<PassPoint>& from = std::nullopt);

private:
    // What one pass reads and what it has left.
    struct Round
    {
        std::uint32_t pass = 0;
        std::uint32_t passes = 0;
        std::vector<Region> toRead;  // in the order of reading
        std::size_t current = 0;     // index into toRead
        RegionMap next;              // what stays filled: read, kept, or not for this pass
    };
    // Reads the units of round.toRead[round.current] once, last first when backward;
    // the units still filled go to round.next, where the pass stopped to at.
    PassEnd retryRegion(Round& round, PassPoint& at);

    UnitRecovery m_units;
    const std::atomic<bool>& m_stop;
};

}  // namespace tessaly
