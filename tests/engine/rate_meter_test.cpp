#include <gtest/gtest.h>

#include "engine/rate_meter.h"

namespace tessaly {
namespace {

class FakeTicks : public TickSource
{
public:
    std::uint32_t now() const override { return m_now; }
    std::uint32_t m_now = 0;
};

TEST(RateMeter, AnswersTheRunningRateUntilAWindowCompletes)
{
    FakeTicks ticks;
    RateMeter meter(ticks);
    ticks.m_now = 1000;
    meter.start();
    EXPECT_EQ(meter.rate(), 0u);
    meter.add(3000);
    ticks.m_now = 3000;
    EXPECT_EQ(meter.rate(), 1000u);  // 3000 / 2000 = 1, times 1000
    meter.add(999);
    EXPECT_EQ(meter.rate(), 1000u);  // 3999 / 2000 still truncates to 1
    ticks.m_now = 3000 + 4000;
    EXPECT_EQ(meter.rate(), 0u);  // fewer bytes than milliseconds
}

TEST(RateMeter, EndsAWindowOnlyAfterItsLength)
{
    FakeTicks ticks;
    RateMeter meter(ticks);
    meter.setWindow(5000);
    meter.start();
    meter.add(50000);
    ticks.m_now = 5000;
    meter.add(1000000);  // exactly 5000 ms: the window goes on
    EXPECT_EQ(meter.rate(), 210000u);  // 1050000 / 5000
    ticks.m_now = 5001;
    meter.add(7);  // closes the window with the bytes before this call
    EXPECT_EQ(meter.rate(), 1050000u / 5001u * 1000u);
    // The new window began at 5001 and counts the 7 bytes; the stored rate stays.
    ticks.m_now = 10001;
    meter.add(1);
    EXPECT_EQ(meter.rate(), 1050000u / 5001u * 1000u);
}

TEST(RateMeter, KeepsItsRateAcrossStartAndSurvivesATickWrap)
{
    FakeTicks ticks;
    RateMeter meter(ticks);
    meter.setWindow(100);
    ticks.m_now = 0xFFFFFFF0u;
    meter.start();
    meter.add(20000);
    ticks.m_now = 0x00000064u;  // 116 ms later, across the wrap
    meter.add(0);
    EXPECT_EQ(meter.rate(), 20000u / 116u * 1000u);
    meter.start();
    EXPECT_EQ(meter.rate(), 20000u / 116u * 1000u);
}

TEST(RateMeter, CallsInTheSameMillisecondUseOneMillisecond)
{
    FakeTicks ticks;
    ticks.m_now = 42;
    RateMeter meter(ticks);
    meter.start();
    meter.add(5);
    EXPECT_EQ(meter.rate(), 5000u);
    meter.setWindow(0);
    meter.add(1);  // elapsed 1 > window 0: the window closes
    EXPECT_EQ(meter.rate(), 5000u);
}

}  // namespace
}  // namespace tessaly
