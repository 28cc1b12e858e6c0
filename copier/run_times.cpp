#include "copier/run_times.h"

#include <algorithm>
#include <limits>

namespace tessaly {

RunTimes computeRunTimes(const RunSnapshot& run)
{
    RunTimes times;
    if (!run.copying || run.currentIndex >= run.entryCount) {
        return times;
    }
    times.running = true;
    if (run.shortRate <= 1) {
        times.speed = RunTimes::Speed::Unknown;
    } else {
        times.speed = RunTimes::Speed::Measured;
        times.rate = run.shortRate;
    }
    // The passes after the main pass read the reads' rate too, but how long they take
    // depends on what the medium still gives.
    if (run.passRegions > 0) {
        times.thisFileSeconds = RunTimes::kUnknownSeconds;
        times.allFilesSeconds = RunTimes::kUnknownSeconds;
        return times;
    }
    const std::uint32_t rate = std::max<std::uint32_t>(run.longRate, 1);
    const std::uint64_t fileRest = run.destinationEnd > run.destinationPosition
                                       ? run.destinationEnd - run.destinationPosition
                                       : 0;
    times.thisFileSeconds = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(fileRest / rate, std::numeric_limits<std::uint32_t>::max()));
    if (run.currentIndex + 1 == run.entryCount) {
        times.allFilesSeconds = times.thisFileSeconds;
        return times;
    }
    const std::uint64_t listRest =
        run.totalSize > run.doneSize ? run.totalSize - run.doneSize : 0;
    times.allFilesSeconds = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(listRest / rate, std::numeric_limits<std::uint32_t>::max()));
    return times;
}

}  // namespace tessaly
