#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "engine/region_map.h"
#include "engine/trim_pass.h"

namespace tessaly {

// The longest filled region the retry passes read again. Shorter ones are isolated bad
// or weak blocks, worth another read; a longer run is a dead stretch, and the trim
// pass has already read its edges.
inline constexpr std::uint64_t kRetryRegionLimit = 65536;

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
    PassResult run(const RegionMap& regions, std::uint32_t passes,
                   const std::function<void(std::uint32_t pass, std::size_t left)>& progress = {});

private:
    // Reads the units of one region once, last first when backward; the units still
    // filled go to out.
    PassEnd retryRegion(const Region& region, bool backward, RegionMap& out);

    UnitRecovery m_units;
    const std::atomic<bool>& m_stop;
};

}  // namespace tessaly
