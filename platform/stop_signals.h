#pragma once

namespace tessaly {

// SIGINT, SIGTERM and SIGHUP (an interrupt, a kill request, the session or terminal
// going away) as bytes on a pipe, so that an event loop takes them like any other
// input and ends the program the way its own Exit does. The handler only writes the
// signal's number to the pipe; everything else happens where the pipe is read.

// Installs the handlers on the first call and returns the pipe's read end
// (non-blocking, closed on exec); -1 when the pipe cannot be made, and the signals
// then keep their default action. Later calls return the same descriptor.
int stopSignalDescriptor();

// Reads every byte pending on fd (from stopSignalDescriptor); returns the number of
// the last signal read, or 0 when nothing was pending.
int takeStopSignals(int fd);

}  // namespace tessaly
