#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace tessaly {

// True when stream is a terminal.
bool isTerminal(std::FILE* stream);

// Columns of the terminal that stream writes to; 0 when it is none or says nothing.
std::size_t terminalColumns(std::FILE* stream);

enum class InputWait : std::int32_t
{
    Ready = 0,
    TimedOut = 1,
    Failed = 2
};

// Waits up to timeoutMs for standard input to become readable. A signal that ends
// the wait counts as TimedOut, so that the caller looks at its stop flag again.
InputWait waitForInput(std::uint32_t timeoutMs);

// One byte of standard input (0 to 255); -1 at the end of the input or on failure.
int readInputByte();

// SIGINT, SIGTERM and SIGHUP (the terminal or the session went away) raise flag from
// now on. A pending system call is not restarted
// after them, so that a wait for input ends and its caller sees the flag.
// The flag must live as long as the process.
void raiseOnStopSignals(std::atomic<bool>& flag);

}  // namespace tessaly
