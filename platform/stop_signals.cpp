#include "platform/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace tessaly {

namespace {

std::atomic<int> g_writeEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free atomics");

extern "C" void writeStopSignal(int sig)
{
    const int savedErrno = errno;
    const int fd = g_writeEnd.load();
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(sig);
        // A full pipe already holds a request; this one adds nothing.
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

int installStopSignals()
{
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    g_writeEnd.store(ends[1]);
    struct sigaction action
    {
    };
    action.sa_handler = writeStopSignal;
    sigemptyset(&action.sa_mask);
    // System calls of other code go on as if nothing had happened.
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
    return ends[0];
}

}  // namespace

int stopSignalDescriptor()
{
    static const int readEnd = installStopSignals();
    return readEnd;
}

int takeStopSignals(int fd)
{
    int last = 0;
    unsigned char bytes[64];
    for (;;) {
        const ssize_t n = ::read(fd, bytes, sizeof bytes);
        if (n > 0) {
            last = bytes[n - 1];
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return last;
    }
}

}  // namespace tessaly
