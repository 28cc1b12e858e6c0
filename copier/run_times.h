#pragma once

#include <cstddef>
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
    std::uint64_t destinationEnd = 0;
    std::uint64_t destinationPosition = 0;
    std::uint64_t totalSize = 0;
    std::uint64_t doneSize = 0;
    // A pass after the main pass (the trim pass, then the retry passes) runs while
    // passRegions is not 0: the regions it has still to read, the current one included.
    // The copy's position stays at the file's end meanwhile.
    std::size_t passRegions = 0;
    std::uint32_t retryPass = 0;   // 0: the trim pass; from 1: that retry pass
    std::uint32_t retryPasses = 0; // the retry passes the file gets
    bool again = false;            // a finished copy run again: only its unread areas are read
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

// The rest of the current file and of the list at the long rate. Negative rests (the
// copies grew beyond the listed sizes) count as none; rests beyond 2^32 seconds stay at
// the largest count, which shows as unknown. While a pass after the main pass runs,
// both rests are unknown, and so is the speed: the engine's meters count the main
// pass's reads only, and what they give then is the main pass's rate, fading.
RunTimes computeRunTimes(const RunSnapshot& run);

}  // namespace tessaly
