// SPDX-License-Identifier: MIT
// The floor of each figure: what a server and client library that cost no
// time at all would show, given only the procedure's own pacing. It is a
// small simulation of exactly what the benchmark does, in which every
// program action takes zero time and only these take time:
//
//   - the engine's sleeps (20 ms in idle and after a receive window, 10 ms
//     after each data chunk and after the closing block) and its reads,
//     which wait (poll) until a byte is there or for what is left of the
//     read's limit (20 ms in idle and while connecting, zvz per character,
//     qvz for the acknowledgement, 100 ms receive windows);
//   - the limits are DeadlineTimers on the clock-tick counter, so a 20 ms
//     read on a silent line lasts until the second tick after it began:
//     between 10 and 20 ms at 100 ticks per second. times() counts those
//     ticks from the kernel's jiffies (clock_t = jiffies * 100 / HZ), so
//     with a kernel HZ that is no multiple of 100 the ticks are uneven: at
//     HZ 250 they come 8 and 12 ms apart in turn;
//   - a data chunk has at most 1000 bytes, one engine step each;
//   - the dispatcher moves a job one stage per pass (stage the send, hand
//     back the result, one received telegram into receive_job);
//   - the client library pauses 10 ms after handing a telegram over, then
//     looks for the result every 20 ms;
//   - the application polls qo3964m_receive, with its own pause when
//     nothing is waiting;
//   - every sleep ends late by the kernel's timer slack and a random
//     delay (exponential, of the mean that the machine's own sleeps show);
//     the phase between the client's 20 ms looks and the uneven clock
//     ticks drifts with these delays, which decides whether a send takes
//     50 or 70 ms, so the floors of sends are only known to about 10 %;
//   - the partner answers at once, and the server's wait ends when the
//     answer arrives, late by the timer slack;
//   - on a real line every character takes (start + 8 data + parity +
//     stop bits) / baud seconds; on a pty the bytes move instantly.
//
// The engine's figures come from engine_pacing.h and telegram_buffers.h,
// the library's from client_pacing.h; the numbers quoted above are for reading only.
//
// Nothing fails in the model: no repetitions, no time-outs.
#pragma once

#include <cstdint>
#include <vector>

#include "numbered_telegram.h"

namespace qobench {

struct PacingSettings {
    int tick_hz = 100;             // sysconf(_SC_CLK_TCK): the timers' resolution
    int kernel_hz = 100;           // the kernel's own tick rate, from which times() counts
    double sleep_slack_ms = 0.05;  // every sleep ends this much late
    double sleep_jitter_ms = 0;    // and by a random further delay of this mean
    double char_ms = 0;            // line time of one character; 0 on a pty
    double reaction_ms = 0.02;     // the partner's reaction to what arrives
    double app_poll_ms = 1;        // the application's pause between empty receive calls
    int zvz_ms = 220;
    int qvz_ms = 2000;
    bool bcc = true;
};

// Line time of one character: start bit, 8 data bits, parity bit unless
// parity is 'N', one stop bit.
double char_ms_for(int baud, char parity);

struct ModelRun {
    std::vector<double> latencies_ms;  // per send (sends only)
    double elapsed_ms = 0;             // first hand-over or queueing to the last result or delivery
    double server_wakeups = 0;         // sleeps of the server within elapsed_ms
    size_t completed = 0;              // sends collected or telegrams delivered
    bool finished = false;             // all of them within the simulation's limit
};

// One qo3964m_send after the other, the next as soon as the last returned.
ModelRun model_sends(const PacingSettings& settings, const std::vector<Bytes>& telegrams, uint64_t seed);
// The partner sends all telegrams back to back; the application drains
// them with qo3964m_receive.
ModelRun model_receives(const PacingSettings& settings, const std::vector<Bytes>& telegrams, uint64_t seed);
// A silent line for `duration_ms`; elapsed_ms is that duration.
ModelRun model_idle(const PacingSettings& settings, double duration_ms, uint64_t seed);

}  // namespace qobench
