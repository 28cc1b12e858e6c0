#pragma once

#include <cstdint>

namespace tessaly {

// What the window's speed and time fields are computed from, read from the engine and
// the run's counters at one moment.
struct RunSnapshot
{
    bool copying = false;
    std::uint32_t currentIndex = 0;
    std::uint32_t entryCount = 0;
    std::uint32_t shortRate = 1;  // bytes per second; 1: nothing measured yet
    std::uint32_t longRate = 1;
    std::uint32_t destinationEnd = 0;
    std::uint32_t destinationPosition = 0;
    std::uint64_t totalSize = 0;
    std::uint64_t doneSize = 0;
};

// The speed and the two remaining times of a run.
struct RunTimes
{
    enum class Speed
    {
        Idle,      // no run: "0"
        Unknown,   // nothing measured yet
        Measured,  // rate bytes per second
    };
    Speed speed = Speed::Idle;
    std::uint32_t rate = 0;
    bool running = false;  // false: both times are zero
    std::uint32_t thisFileSeconds = 0;
    std::uint32_t allFilesSeconds = 0;  // the same as thisFileSeconds on the last line
};

// The rest of the current file and of the list at the long rate. Negative rests (the
// copies grew beyond the listed sizes) count as none; rests beyond 2^32 seconds stay at
// the largest count, which shows as unknown.
RunTimes computeRunTimes(const RunSnapshot& run);

}  // namespace tessaly
