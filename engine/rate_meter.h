#pragma once

#include <atomic>
#include <cstdint>
#include <limits>

#include "platform/clock.h"

namespace tessaly {

// Byte rate over fixed time windows. The worker counts bytes with add(); another
// thread reads rate(). A rate is recomputed only when bytes arrive after a window
// has ended, so a stalled copy keeps showing its last rate.
class RateMeter
{
public:
    explicit RateMeter(const TickSource& ticks = systemTicks()) : m_ticks(&ticks) {}
    virtual ~RateMeter() = default;
    RateMeter(const RateMeter&) = delete;
    RateMeter& operator=(const RateMeter&) = delete;

    // Begins a new window; the last completed rate stays.
    void start();
    void setWindow(std::uint32_t milliseconds) { m_window.store(milliseconds); }
    // Counts n bytes; first closes the window when more than its length has passed.
    void add(std::uint64_t n);
    // Bytes per second of the last completed window, or of the running one while
    // none has completed; a multiple of 1000 (integer bytes per millisecond).
    std::uint32_t rate() const;

private:
    std::uint32_t elapsed(std::uint32_t now) const;
    static std::uint32_t rateOf(std::uint64_t bytes, std::uint32_t elapsed);

    const TickSource* m_ticks;
    std::atomic<std::uint32_t> m_startTick{0};
    std::atomic<std::uint64_t> m_bytes{0};
    std::atomic<std::uint32_t> m_window{std::numeric_limits<std::uint32_t>::max()};
    std::atomic<std::uint32_t> m_rate{0};
};

}  // namespace tessaly
