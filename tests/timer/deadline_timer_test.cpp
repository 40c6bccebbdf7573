// SPDX-License-Identifier: MIT
// Deadline timers: the arithmetic on a tick counter that the test drives,
// and the real counter of times().
#include <gtest/gtest.h>

#include <climits>
#include <sys/times.h>
#include <unistd.h>

#include "deadline_timer.h"

using namespace qo3964;

namespace {

// Tick counts of the test's clock; each call of the source takes the next
// entry of `script` while there is one, then stays on `fake_now`.
int32_t fake_now = 0;
const int32_t* script = nullptr;
int script_left = 0;

int32_t fake_ticks()
{
    if (script_left > 0) {
        --script_left;
        fake_now = *script++;
    }
    return fake_now;
}

constexpr int32_t signed_ticks(uint32_t raw) { return static_cast<int32_t>(raw); }

void expect_fields(const DeadlineTimer& timer, int64_t start, int64_t deadline, int64_t duration, int64_t remaining)
{
    EXPECT_EQ(timer.start_ticks, start);
    EXPECT_EQ(timer.deadline_ticks, deadline);
    EXPECT_EQ(timer.duration_ms, duration);
    EXPECT_EQ(timer.remaining_ms, remaining);
}

class FakeClock : public ::testing::Test {
protected:
    void SetUp() override
    {
        tick_source = fake_ticks;
        clocks_p_sec = 100;
        fake_now = 0;
        script = nullptr;
        script_left = 0;
    }
    void TearDown() override { tick_source = times_ticks; }

    template <int N>
    static void play(const int32_t (&ticks)[N])
    {
        script = ticks;
        script_left = N;
    }
};

TEST_F(FakeClock, ArmingKeepsTheRequestAndSetsTheDeadlineInWholeTicks)
{
    fake_now = 1000;
    DeadlineTimer timer{};
    timer.remaining_ms = 77;
    EXPECT_EQ(timer_start(&timer, 220), 220);
    expect_fields(timer, 1000, 1022, 220, 220);

    // Re-arming replaces all four fields.
    fake_now = 2000;
    EXPECT_EQ(timer_start(&timer, 35), 35);
    expect_fields(timer, 2000, 2003, 35, 35);
}

TEST_F(FakeClock, ReadsCountDownInStepsOfOneTickThenStayAtZero)
{
    fake_now = 1000;
    DeadlineTimer timer{};
    timer_start(&timer, 220);
    for (int32_t tick = 0; tick <= 22; ++tick) {
        fake_now = 1000 + tick;
        EXPECT_EQ(timer_read(&timer), 220 - 10 * tick) << "tick " << tick;
        EXPECT_EQ(timer.remaining_ms, 220 - 10 * tick);
    }
    fake_now = 5000;
    EXPECT_EQ(timer_read(&timer), 0);
    expect_fields(timer, 1000, 1022, 220, 0);
}

TEST_F(FakeClock, TenMillisecondsLastUntilTheNextTick)
{
    fake_now = 50;
    DeadlineTimer timer{};
    timer_start(&timer, 10);
    EXPECT_EQ(timer.deadline_ticks, 51);
    EXPECT_EQ(timer_read(&timer), 10);
    fake_now = 51;
    EXPECT_EQ(timer_read(&timer), 0);
}

TEST_F(FakeClock, ZeroAndSubTickDurationsExpireAtOnce)
{
    fake_now = 700;
    for (int32_t ms : {0, 1, 5, 9}) {
        DeadlineTimer timer{};
        EXPECT_EQ(timer_start(&timer, ms), ms);
        EXPECT_EQ(timer.deadline_ticks, 700) << ms << " ms";
        EXPECT_EQ(timer.remaining_ms, ms);
        EXPECT_EQ(timer_read(&timer), 0) << ms << " ms";
        EXPECT_EQ(timer.remaining_ms, 0);
    }
}

TEST_F(FakeClock, NegativeDurationReadsZero)
{
    fake_now = 700;
    DeadlineTimer timer{};
    EXPECT_EQ(timer_start(&timer, -500), -500);
    EXPECT_EQ(timer.deadline_ticks, 650);
    EXPECT_EQ(timer_read(&timer), 0);
    EXPECT_EQ(timer.remaining_ms, 0);
}

TEST_F(FakeClock, TickCounterRollingOverToNegativeDuringTheTimer)
{
    fake_now = signed_ticks(0x7FFFFFF0);
    DeadlineTimer timer{};
    timer_start(&timer, 300);
    EXPECT_EQ(timer.start_ticks, 0x7FFFFFF0);
    EXPECT_EQ(timer.deadline_ticks, signed_ticks(0x8000000E));
    EXPECT_LT(timer.deadline_ticks, 0);
    EXPECT_EQ(timer_read(&timer), 300);
    fake_now = INT32_MAX;
    EXPECT_EQ(timer_read(&timer), 150);
    fake_now = INT32_MIN;
    EXPECT_EQ(timer_read(&timer), 140);
    fake_now = signed_ticks(0x8000000D);
    EXPECT_EQ(timer_read(&timer), 10);
    fake_now = signed_ticks(0x8000000E);
    EXPECT_EQ(timer_read(&timer), 0);
    fake_now = signed_ticks(0x80001000);
    EXPECT_EQ(timer_read(&timer), 0);
}

TEST_F(FakeClock, TickCounterRollingOverThroughZeroDuringTheTimer)
{
    fake_now = signed_ticks(0xFFFFFFF0);
    DeadlineTimer timer{};
    timer_start(&timer, 300);
    EXPECT_EQ(timer.start_ticks, -16);
    EXPECT_EQ(timer.deadline_ticks, 14);
    fake_now = -1;
    EXPECT_EQ(timer_read(&timer), 150);
    fake_now = 0;
    EXPECT_EQ(timer_read(&timer), 140);
    fake_now = 14;
    EXPECT_EQ(timer_read(&timer), 0);
    fake_now = 1000;
    EXPECT_EQ(timer_read(&timer), 0);
}

// ms x ticks per second must fit 32 bits: a longer request is armed for
// the longest duration that fits, never for a wrapped (shorter or already
// expired) one.
TEST_F(FakeClock, OverlongDurationsAreClampedToTheLongestThatFits)
{
    fake_now = 1000;
    const int32_t longest = timer_max_ms();
    EXPECT_EQ(longest, INT32_MAX / 100);
    for (int32_t ms : {longest, longest + 1, 30000000, INT32_MAX}) {
        DeadlineTimer timer{};
        EXPECT_EQ(timer_start(&timer, ms), ms);
        EXPECT_EQ(timer.duration_ms, ms);
        EXPECT_EQ(timer.deadline_ticks, 1000 + INT32_MAX / 1000) << ms << " ms";
        EXPECT_EQ(timer_read(&timer), INT32_MAX / 1000 * 10) << ms << " ms";
    }
    DeadlineTimer timer{};
    timer_start(&timer, INT32_MIN);
    EXPECT_EQ(timer_read(&timer), 0);
}

TEST_F(FakeClock, TickRateIsTakenFromTheCache)
{
    clocks_p_sec = 1000;
    fake_now = 10;
    DeadlineTimer timer{};
    timer_start(&timer, 25);
    EXPECT_EQ(timer.deadline_ticks, 35);
    fake_now = 30;
    EXPECT_EQ(timer_read(&timer), 5);
    EXPECT_EQ(ms_per_tick(), 1);

    clocks_p_sec = 250;  // 4 ms per tick, reads in whole ticks of 4 ms
    fake_now = 0;
    timer_start(&timer, 10);
    EXPECT_EQ(timer.deadline_ticks, 2);
    EXPECT_EQ(timer_read(&timer), 8);
}

TEST_F(FakeClock, InvalidCacheIsQueriedAgain)
{
    const long rate = sysconf(_SC_CLK_TCK);
    ASSERT_GT(rate, 0);
    for (int32_t invalid : {0, -5}) {
        clocks_p_sec = invalid;
        DeadlineTimer timer{};
        timer_start(&timer, 100);
        EXPECT_EQ(clocks_p_sec, rate);
        EXPECT_EQ(timer.deadline_ticks, 100 * rate / 1000);
    }
    clocks_p_sec = 0;
    DeadlineTimer timer{};
    timer_read(&timer);
    EXPECT_EQ(clocks_p_sec, rate);
}

// timer_wait reads the counter once to arm and once after the sleep.
TEST_F(FakeClock, WaitReportsTicksLeftAcrossARollOver)
{
    DeadlineTimer timer{};
    const int32_t still_running[] = {INT32_MAX, INT32_MIN};
    play(still_running);
    EXPECT_EQ(timer_wait(&timer, 20), 10);
    expect_fields(timer, INT32_MAX, INT32_MIN + 1, 20, 10);

    // The deadline lies before the roll-over and the reading after it.
    const int32_t expired[] = {INT32_MAX - 5, INT32_MIN};
    play(expired);
    EXPECT_EQ(timer_wait(&timer, 20), 0);
    EXPECT_EQ(timer.deadline_ticks, INT32_MAX - 3);
    EXPECT_EQ(timer.remaining_ms, 0);
}

TEST(RealClock, TicksAreTheLowThirtyTwoBitsOfTimesSignExtended)
{
    tms buffer;
    const auto before = static_cast<uint32_t>(times(&buffer));
    DeadlineTimer timer{};
    timer_start(&timer, 200);
    const auto after = static_cast<uint32_t>(times(&buffer));

    EXPECT_EQ(timer.start_ticks, static_cast<int32_t>(static_cast<uint32_t>(timer.start_ticks)));
    const uint32_t start = static_cast<uint32_t>(timer.start_ticks);
    EXPECT_LE(start - before, after - before);
    EXPECT_EQ(static_cast<uint32_t>(timer.deadline_ticks) - start, static_cast<uint32_t>(200 * clocks_p_sec / 1000));
    EXPECT_EQ(timer.deadline_ticks, static_cast<int32_t>(static_cast<uint32_t>(timer.deadline_ticks)));
}

TEST(RealClock, ReadingCountsDownToZero)
{
    DeadlineTimer timer{};
    timer_start(&timer, 200);
    const int32_t first = timer_read(&timer);
    EXPECT_LE(first, 200);
    EXPECT_GE(first, 0);
    EXPECT_EQ(first % ms_per_tick(), 0);
    sleep_ms(300);
    EXPECT_EQ(timer_read(&timer), 0);
    EXPECT_EQ(timer.remaining_ms, 0);
}

TEST(RealClock, WaitAfterAnUninterruptedSleepLeavesNothing)
{
    DeadlineTimer timer{};
    EXPECT_EQ(timer_wait(&timer, 100), 0);
    EXPECT_EQ(timer.remaining_ms, 0);
    EXPECT_EQ(timer.duration_ms, 100);
}

TEST(RealClock, SleepReturnsWhatUsleepReturned)
{
    EXPECT_EQ(sleep_ms(20), 0);
    EXPECT_EQ(sleep_ms(0), 0);
    EXPECT_EQ(sleep_ms(-5), 0);
}

}  // namespace
