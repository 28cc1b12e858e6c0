#pragma once

#include <atomic>
#include <cstdint>

#include "run/run_figures.h"

namespace tessaly {

// Whether a copy run is wanted, set by Start and cleared by Stop (the window's thread)
// and by the driver when its run has nothing left. Every change counts, so that the
// driver's end of a run is one decision over what it saw: a Start that came after it
// looked at the list (an Add with auto start) is never cleared by that end.
class RunRequest
{
public:
    bool load() const { return (m_state.load() & 1) != 0; }
    void store(bool wanted)
    {
        std::uint32_t state = m_state.load();
        while (!m_state.compare_exchange_weak(state, next(state, wanted))) {
        }
    }
    // The state to hand to endIfUnchanged.
    std::uint32_t snapshot() const { return m_state.load(); }
    // Clears the request when nothing changed it since seen; false when a Start or Stop
    // came in between (the caller looks again).
    bool endIfUnchanged(std::uint32_t seen)
    {
        return m_state.compare_exchange_strong(seen, next(seen, false));
    }

private:
    static std::uint32_t next(std::uint32_t state, bool wanted)
    {
        return (((state >> 1) + 1) << 1) | (wanted ? 1u : 0u);
    }

    std::atomic<std::uint32_t> m_state{0};  // changes counted above bit 0, wanted in bit 0
};

// What the copier's window and its copy driver share about the list: written on the
// window's thread (copying also by the driver, which clears it at the end of a run),
// polled by the driver.
struct RunCounters
{
    std::atomic<std::uint32_t> entryCount{0};
    std::atomic<std::uint32_t> currentIndex{0};  // the line the run handles next
    std::atomic<std::uint64_t> totalSize{0};     // sizes of all lines
    std::atomic<std::uint64_t> doneSize{0};      // copied bytes of the Done lines
    RunRequest copying;                          // a copy run is wanted

    // Where the run stands in the list, as the figures take it; onLine is the caller's.
    ListPlace place() const
    {
        ListPlace at;
        at.copying = copying.load();
        at.index = currentIndex.load();
        at.count = entryCount.load();
        at.totalSize = totalSize.load();
        at.doneSize = doneSize.load();
        return at;
    }
};

}  // namespace tessaly
