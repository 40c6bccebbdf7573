// SPDX-License-Identifier: MIT
#include "deadline_timer.h"

#include <climits>
#include <poll.h>
#include <sys/times.h>
#include <unistd.h>

namespace qo3964 {

int32_t clocks_p_sec = 0;

int32_t times_ticks()
{
    tms buffer;
    // clock_t is wider than 32 bits on 64-bit Linux; the timers work on the
    // low 32 bits, the width of the counter on the original target.
    return static_cast<int32_t>(static_cast<uint32_t>(times(&buffer)));
}

TickSource tick_source = times_ticks;

namespace {

// The tick rate, queried until the system delivers a positive value. A rate
// that cannot be obtained falls back to the Linux USER_HZ of 100 for this
// call instead of dividing by zero; the query is repeated next time.
int32_t tick_rate()
{
    if (clocks_p_sec <= 0) {
        long rate = sysconf(_SC_CLK_TCK);
        if (rate > 0 && rate <= 1000) {
            clocks_p_sec = static_cast<int32_t>(rate);
        } else {
            return 100;
        }
    }
    return clocks_p_sec;
}

// 32-bit arithmetic that wraps instead of overflowing.
int32_t wrap_add(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t wrap_sub(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

void arm(DeadlineTimer* timer, int32_t ms, int32_t now)
{
    timer->start_ticks = now;
    // ms * rate must stay within 32 bits; longer durations are clamped to
    // the longest one the deadline arithmetic can represent.
    int64_t product = static_cast<int64_t>(ms) * tick_rate();
    if (product > INT32_MAX) {
        product = INT32_MAX;
    } else if (product < INT32_MIN) {
        product = INT32_MIN;
    }
    timer->deadline_ticks = wrap_add(now, static_cast<int32_t>(product / 1000));
    timer->duration_ms = ms;
    timer->remaining_ms = ms;
}

}  // namespace

int32_t ms_per_tick()
{
    return 1000 / tick_rate();
}

int32_t timer_max_ms()
{
    return INT32_MAX / tick_rate();
}

int32_t timer_start(DeadlineTimer* timer, int32_t ms)
{
    return timer_start_at(timer, ms, tick_source());
}

int32_t timer_start_at(DeadlineTimer* timer, int32_t ms, int32_t now)
{
    arm(timer, ms, now);
    return ms;
}

int32_t timer_read(DeadlineTimer* timer)
{
    return timer_read_at(timer, tick_source());
}

int32_t timer_read_at(DeadlineTimer* timer, int32_t now)
{
    const int32_t k = ms_per_tick();
    const int32_t ticks_left = wrap_sub(static_cast<int32_t>(timer->deadline_ticks), now);
    // The product wraps like the 32-bit original; a deadline more than
    // timer_max_ms() ahead cannot be armed, so it never wraps in practice.
    int32_t r = static_cast<int32_t>(static_cast<uint32_t>(ticks_left) * static_cast<uint32_t>(k));
    if (r < 0) {
        r = 0;
    }
    timer->remaining_ms = r;
    return r;
}

int32_t real_sleep(int32_t ms)
{
    if (ms <= 0) {
        return usleep(0);
    }
    return usleep(static_cast<useconds_t>(ms) * 1000U);
}

SleepFn sleep_source = real_sleep;

int32_t sleep_ms(int32_t ms)
{
    return sleep_source(ms);
}

int32_t real_wait(int fd, int16_t events, int32_t ms, int16_t* revents)
{
    pollfd watched{fd, events, 0};
    const int ready = poll(&watched, 1, ms > 0 ? ms : 0);
    *revents = ready > 0 ? watched.revents : 0;
    return ready;
}

WaitFn wait_source = real_wait;

int32_t wait_fd(int fd, int16_t events, int32_t ms, int16_t* revents)
{
    return wait_source(fd, events, ms, revents);
}

int32_t timer_wait(DeadlineTimer* timer, int32_t ms)
{
    arm(timer, ms, tick_source());
    sleep_ms(ms);
    const int32_t now = tick_source();
    // The tick difference is taken modulo 2^32 before it is widened, so a
    // roll-over of the counter during the sleep does not yield a huge value.
    const int64_t ticks_left = wrap_sub(static_cast<int32_t>(timer->deadline_ticks), now);
    int64_t r = ticks_left * ms_per_tick();
    if (r < 0) {
        r = 0;
    }
    timer->remaining_ms = r;
    return static_cast<int32_t>(r);
}

}  // namespace qo3964
