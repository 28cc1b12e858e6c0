#include "platform/terminal.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace tessaly {

namespace {

std::atomic<std::atomic<bool>*> g_stopFlag{nullptr};
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

extern "C" void onStopSignal(int)
{
    if (std::atomic<bool>* flag = g_stopFlag.load()) flag->store(true);
}

}  // namespace

bool isTerminal(std::FILE* stream)
{
    return stream != nullptr && ::isatty(::fileno(stream)) == 1;
}

std::size_t terminalColumns(std::FILE* stream)
{
    winsize ws{};
    if (stream == nullptr || ::ioctl(::fileno(stream), TIOCGWINSZ, &ws) != 0) return 0;
    return ws.ws_col;
}

InputWait waitForInput(std::uint32_t timeoutMs)
{
    pollfd pfd{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(timeoutMs));
    if (ready > 0) return InputWait::Ready;
    if (ready == 0 || errno == EINTR) return InputWait::TimedOut;
    return InputWait::Failed;
}

int readInputByte()
{
    unsigned char c = 0;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n == 1) return c;
        if (n < 0 && errno == EINTR) continue;
        return -1;
    }
}

void raiseOnStopSignals(std::atomic<bool>& flag)
{
    g_stopFlag.store(&flag);
    struct sigaction action
    {
    };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

}  // namespace tessaly
