#include "platform/terminal.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

namespace tessaly {
namespace {

// The handler only raises the flag: the process goes on, and the run ends the
// current file in order.
TEST(StopSignals, InterruptTerminateAndHangUpRaiseTheFlag)
{
    static std::atomic<bool> stop{false};
    raiseOnStopSignals(stop);
    ASSERT_EQ(std::raise(SIGINT), 0);
    EXPECT_TRUE(stop.load());
    stop = false;
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(stop.load());
    stop = false;
    ASSERT_EQ(std::raise(SIGHUP), 0);
    EXPECT_TRUE(stop.load());
}

TEST(Terminal, AFileIsNoTerminalAndHasNoColumns)
{
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(isTerminal(file));
    EXPECT_EQ(terminalColumns(file), 0u);
    std::fclose(file);
    EXPECT_FALSE(isTerminal(nullptr));
}

}  // namespace
}  // namespace tessaly
