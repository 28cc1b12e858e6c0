#include "platform/stop_signals.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <csignal>

namespace tessaly {
namespace {

bool readable(int fd)
{
    pollfd pfd{fd, POLLIN, 0};
    return ::poll(&pfd, 1, 0) == 1;
}

// Each signal leaves its number on the pipe and the process goes on; the reader takes
// what is pending and learns the last one.
TEST(StopSignalPipe, EachStopSignalIsReadFromThePipe)
{
    const int fd = stopSignalDescriptor();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(stopSignalDescriptor(), fd);
    EXPECT_FALSE(readable(fd));
    EXPECT_EQ(takeStopSignals(fd), 0);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        ASSERT_EQ(std::raise(sig), 0);
        ASSERT_TRUE(readable(fd)) << sig;
        EXPECT_EQ(takeStopSignals(fd), sig);
        EXPECT_FALSE(readable(fd));
    }
    ASSERT_EQ(std::raise(SIGHUP), 0);
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_EQ(takeStopSignals(fd), SIGTERM);
}

}  // namespace
}  // namespace tessaly
