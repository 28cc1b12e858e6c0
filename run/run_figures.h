#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/engine_snapshot.h"

namespace tessaly {

// Where a run stands in its list, as the front end that drives it counts.
struct ListPlace
{
    bool copying = false;        // a run is on
    std::uint32_t index = 0;     // the line the run is on (or handles next)
    std::uint32_t count = 0;     // lines of the list
    std::uint64_t totalSize = 0; // sizes of all lines
    std::uint64_t doneSize = 0;  // sizes of the lines finished before the current one
    bool onLine = false;         // the current line's copy counts with what it has reached
};

// The speed and the two remaining times of a run.
struct RunTimes
{
    static constexpr std::uint32_t kUnknownSeconds = 0xffffffff;

    enum class Speed
    {
        Idle,      // no run: "0"
        Unknown,   // nothing measured yet
        Measured,  // rate bytes per second
    };
    Speed speed = Speed::Idle;
    std::uint32_t rate = 0;
    bool running = false;  // false: both times are zero
    // Seconds left; kUnknownSeconds (shown as unknown) while a pass after the main pass
    // runs: how long it takes depends on how many sectors still fail, and how slowly.
    std::uint32_t thisFileSeconds = 0;
    std::uint32_t allFilesSeconds = 0;  // the same as thisFileSeconds on the last line
};

// Everything both front ends show of a run at one moment, computed here only.
struct RunFigures
{
    int filePercent = 0;   // for display: completion is copyComplete's, from bytes
    int totalPercent = 0;
    RunTimes times;
    // The pass after the main pass that runs (see EngineSnapshot); passRegions 0: none.
    std::size_t passRegions = 0;
    std::uint32_t retryPass = 0;
    std::uint32_t retryPasses = 0;
    bool again = false;
    std::uint32_t phase = 0;  // see EngineSnapshot
    std::uint32_t silentSeconds = 0;  // a read that has run past kSilentDriveMs, in seconds
};

// How long a read of the source may run before the front ends say that the drive
// does not answer.
inline constexpr std::uint32_t kSilentDriveMs = 5000;

// The seconds to show for a read that has run readMs: its whole seconds once it has
// run more than kSilentDriveMs, else 0 (nothing to show).
inline std::uint32_t silentSecondsOf(std::uint32_t readMs)
{
    return readMs > kSilentDriveMs ? readMs / 1000 : 0;
}

// The percent of the file the copy has reached: 100 for an empty source.
int filePercentOf(const EngineSnapshot& engine);

// The figures of a run whose engine shows engine and whose list stands as list. The
// total percent counts the finished lines' sizes and what the current copy has reached
// over the list's sizes; a list of empty files counts its lines. The times are the rest
// of the file and of the list at the long rate; rests beyond 2^32 seconds show as
// unknown, and so do both while a pass after the main pass runs (how long it takes
// depends on what the medium still gives).
RunFigures runFigures(const EngineSnapshot& engine, const ListPlace& list);

}  // namespace tessaly
