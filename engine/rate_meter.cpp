#include "engine/rate_meter.h"

#include <algorithm>

namespace tessaly {

void RateMeter::start()
{
    m_startTick.store(m_ticks->now());
    m_bytes.store(0);
}

std::uint32_t RateMeter::elapsed(std::uint32_t now) const
{
    // Unsigned arithmetic keeps a wrap of the tick count harmless.
    const std::uint32_t span = now - m_startTick.load();
    return span == 0 ? 1 : span;
}

std::uint32_t RateMeter::rateOf(std::uint64_t bytes, std::uint32_t elapsed)
{
    const std::uint64_t perSecond = bytes / elapsed * 1000;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(perSecond, std::numeric_limits<std::uint32_t>::max()));
}

void RateMeter::add(std::uint64_t n)
{
    const std::uint32_t span = elapsed(m_ticks->now());
    if (span > m_window.load()) {
        m_rate.store(rateOf(m_bytes.load(), span));
        start();
    }
    m_bytes.fetch_add(n);
}

std::uint32_t RateMeter::rate() const
{
    const std::uint32_t stored = m_rate.load();
    if (stored != 0) return stored;
    return rateOf(m_bytes.load(), elapsed(m_ticks->now()));
}

}  // namespace tessaly
