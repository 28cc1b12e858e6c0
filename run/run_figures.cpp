#include "run/run_figures.h"

#include <algorithm>
#include <limits>

namespace tessaly {

namespace {

std::uint32_t secondsAt(std::uint64_t bytes, std::uint32_t rate)
{
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(
        bytes / std::max<std::uint32_t>(rate, 1), std::numeric_limits<std::uint32_t>::max()));
}

// part * 100 / whole, rounded down; whole > 0.
int percentOf(std::uint64_t part, std::uint64_t whole)
{
    part = std::min(part, whole);
    if (part <= std::numeric_limits<std::uint64_t>::max() / 100) {
        return static_cast<int>(part * 100 / whole);
    }
    // Past 2^57 bytes the product would overflow; a hundredth of the whole is exact enough.
    return static_cast<int>(std::min<std::uint64_t>(part / (whole / 100), 100));
}

int totalPercentOf(const ListPlace& list, std::uint64_t reached, int filePercent)
{
    if (list.totalSize > 0) return percentOf(list.doneSize + reached, list.totalSize);
    if (list.count == 0) return 0;
    const std::uint64_t lines = std::min(list.index, list.count);
    return static_cast<int>((lines * 100 + static_cast<std::uint64_t>(filePercent)) / list.count);
}

RunTimes timesOf(const EngineSnapshot& engine, const ListPlace& list, std::uint64_t reached)
{
    RunTimes times;
    if (!list.copying || list.index >= list.count) return times;
    times.running = true;
    if (engine.shortRate <= 1) {
        times.speed = RunTimes::Speed::Unknown;
    } else {
        times.speed = RunTimes::Speed::Measured;
        times.rate = engine.shortRate;
    }
    if (engine.passRegions > 0) {
        times.thisFileSeconds = RunTimes::kUnknownSeconds;
        times.allFilesSeconds = RunTimes::kUnknownSeconds;
        return times;
    }
    const std::uint64_t fileRest = engine.fileSize - engine.reached();
    times.thisFileSeconds = secondsAt(fileRest, engine.longRate);
    if (list.index + 1 == list.count) {
        times.allFilesSeconds = times.thisFileSeconds;
        return times;
    }
    const std::uint64_t done = list.doneSize + reached;
    times.allFilesSeconds = secondsAt(list.totalSize - std::min(done, list.totalSize), engine.longRate);
    return times;
}

}  // namespace

int filePercentOf(const EngineSnapshot& engine)
{
    return engine.fileSize == 0 ? 100 : percentOf(engine.reached(), engine.fileSize);
}

RunFigures runFigures(const EngineSnapshot& engine, const ListPlace& list)
{
    RunFigures figures;
    const std::uint64_t reached = list.onLine ? engine.reached() : 0;
    figures.filePercent = list.onLine ? filePercentOf(engine) : 0;
    figures.totalPercent = totalPercentOf(list, reached, figures.filePercent);
    figures.times = timesOf(engine, list, reached);
    figures.passRegions = engine.passRegions;
    figures.retryPass = engine.retryPass;
    figures.retryPasses = engine.retryPasses;
    figures.phase = engine.phase;
    figures.again = engine.triesAgain;
    figures.silentSeconds = silentSecondsOf(engine.readWaitMs);
    return figures;
}

}  // namespace tessaly
