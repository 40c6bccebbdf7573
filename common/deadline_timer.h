// SPDX-License-Identifier: MIT
// Millisecond deadline timers on the process clock-tick counter.
//
// Every time limit of the link layer and of the client library runs on
// these timers. Time comes from the tick counter of times(), never from the
// wall clock, so setting the system clock does not disturb a telegram.
// A DeadlineTimer also lies inside each job block of the shared segment, so
// its four 64-bit words are part of that inter-process layout; it is packed
// to 4-byte alignment so that the layout is the same in 32- and 64-bit
// builds.
#pragma once

#include <cstdint>

namespace qo3964 {

#pragma pack(push, 4)
struct DeadlineTimer {
    int64_t start_ticks;     // tick count when armed (sign-extended 32 bits)
    int64_t deadline_ticks;  // tick count at which the timer expires
    int64_t duration_ms;     // duration requested when armed
    int64_t remaining_ms;    // last value computed by a read
};
#pragma pack(pop)

static_assert(sizeof(DeadlineTimer) == 32);
static_assert(alignof(DeadlineTimer) == 4);

// Cached sysconf(_SC_CLK_TCK); 0 until the first operation needs it.
extern int32_t clocks_p_sec;

// Source of the 32-bit tick count. Defaults to the low 32 bits of times();
// tests replace it to drive the counter (roll-over included).
using TickSource = int32_t (*)();
extern TickSource tick_source;
int32_t times_ticks();

// Where sleep_ms sleeps. Defaults to usleep (real_sleep); the fuzzers
// replace it with a fake clock that advances tick_source instead, so that
// the link layer's time passes without real waiting.
using SleepFn = int32_t (*)(int32_t ms);
extern SleepFn sleep_source;
int32_t real_sleep(int32_t ms);

// Where the serial line waits for its descriptor: poll() for `events` at
// most ms milliseconds, returning poll's result and the events seen in
// `revents`. Defaults to real_wait; the fuzzers replace it, like the sleep,
// with a fake clock that lets the time pass at once when nothing is there.
using WaitFn = int32_t (*)(int fd, int16_t events, int32_t ms, int16_t* revents);
extern WaitFn wait_source;
int32_t real_wait(int fd, int16_t events, int32_t ms, int16_t* revents);

// Arms the timer for ms milliseconds; returns ms.
int32_t timer_start(DeadlineTimer* timer, int32_t ms);
// Milliseconds left, in whole ticks; never negative. Stores remaining_ms.
int32_t timer_read(DeadlineTimer* timer);
// The same at a tick count read before (`now` from tick_source): a loop
// that arms and reads several timers at one moment reads the clock once.
int32_t timer_start_at(DeadlineTimer* timer, int32_t ms, int32_t now);
int32_t timer_read_at(DeadlineTimer* timer, int32_t now);
// Sleeps ms milliseconds through sleep_source; returns what it returned
// (usleep's result by default).
int32_t sleep_ms(int32_t ms);
// Waits through wait_source until fd has one of `events` or ms have passed;
// returns poll's result (1 ready, 0 time over, -1 error) and the events.
int32_t wait_fd(int fd, int16_t events, int32_t ms, int16_t* revents);
// Arms the timer for ms, sleeps ms, returns what is left (0 after a full sleep).
int32_t timer_wait(DeadlineTimer* timer, int32_t ms);

// Milliseconds per tick (10 at 100 ticks per second).
int32_t ms_per_tick();
// The longest duration in ms that the 32-bit deadline arithmetic can hold.
int32_t timer_max_ms();

}  // namespace qo3964
