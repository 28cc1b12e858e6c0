#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "engine/engine_status.h"

namespace tessaly {

// What the engine shows of the file it copies, taken at one moment (CopyEngine::snapshot).
// Bytes throughout; a percent is the front end's to compute (run/run_figures.h).
struct EngineSnapshot
{
    // Busy is taken first: once it is clear, everything else is the worker's last word.
    bool busy = false;
    EngineStatus status = EngineStatus::Ok;
    std::uint64_t fileSize = 0;         // of the source
    std::uint64_t position = 0;         // source bytes the copy has reached
    std::uint64_t destinationBase = 0;  // where the file's part of the copy begins (behind an Append's base)
    // Bytes of the file's part of the copy that hold fills, earlier runs' included.
    std::int64_t filledBytes = 0;
    // While the trim pass or a retry pass runs: the merged filled regions it has still to
    // read, the current one included; 0 otherwise. The position rests at the end meanwhile.
    std::size_t passRegions = 0;
    std::uint32_t retryPass = 0;    // 0: the trim pass (or none); from 1: that retry pass
    std::uint32_t retryPasses = 0;  // the retry passes the file gets
    bool triesAgain = false;        // a finished copy run again: only its filled areas are read
    // While the easy data is read first: 1 the pass of chunk reads that skips past
    // failures, 2 the main pass over the areas it skipped; 0 otherwise.
    std::uint32_t phase = 0;
    // The file was read easy data first: notTried is what it has not tried yet, which the
    // position does not say (phase 2 goes back to the first area skipped).
    bool phased = false;
    std::uint64_t notTried = 0;
    std::uint32_t shortRate = 1;    // bytes per second over 5 s; 1: nothing measured
    std::uint32_t longRate = 1;     // over 120 s
    std::uint32_t readWaitMs = 0;   // how long the current read of the source has run

    // The source bytes the copy has read or filled: up to the position in order, all
    // but those not tried when the easy data is read first.
    std::uint64_t reached() const
    {
        return phased ? fileSize - std::min(notTried, fileSize) : std::min(position, fileSize);
    }
    std::uint64_t destinationPosition() const { return destinationBase + position; }
    std::uint64_t destinationEnd() const { return destinationBase + fileSize; }
};

}  // namespace tessaly
