#pragma once

#include <cstdint>

namespace tessaly {

// Milliseconds of a steady clock, kept as unsigned 32-bit: it wraps after about
// 49.7 days, and every user subtracts ticks in unsigned arithmetic.
std::uint32_t tickCount();

void sleepMs(std::uint32_t milliseconds);

// A source of ticks that tests can replace.
class TickSource
{
public:
    virtual ~TickSource() = default;
    virtual std::uint32_t now() const = 0;
};

// The steady clock of the system.
const TickSource& systemTicks();

}  // namespace tessaly
