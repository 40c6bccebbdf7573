#include <gtest/gtest.h>

#include "deadline_timer.h"

namespace {

int32_t fake_now = 0;
int32_t fake_ticks() { return fake_now; }

class FakeClock : public ::testing::Test {
protected:
    void SetUp() override
    {
        tick_source = fake_ticks;
        clocks_p_sec = 100;
    }
    void TearDown() override { tick_source = times_ticks; }
};

TEST_F(FakeClock, ReadsWholeTicksOfTenMilliseconds)
{
    fake_now = 1000;
    DeadlineTimer timer{};
    EXPECT_EQ(timer_start(&timer, 220), 220);
    EXPECT_EQ(timer.start_ticks, 1000);
    EXPECT_EQ(timer.deadline_ticks, 1022);
    EXPECT_EQ(timer.duration_ms, 220);
    EXPECT_EQ(timer.remaining_ms, 220);
    EXPECT_EQ(timer_read(&timer), 220);
    fake_now = 1001;
    EXPECT_EQ(timer_read(&timer), 210);
    fake_now = 1022;
    EXPECT_EQ(timer_read(&timer), 0);
    fake_now = 5000;
    EXPECT_EQ(timer_read(&timer), 0);
    EXPECT_EQ(timer.remaining_ms, 0);
}

}  // namespace
