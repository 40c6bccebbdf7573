// SPDX-License-Identifier: MIT
// What one look at a silent line costs on this machine: the server's
// serial_getc, while nothing arrives, repeats a non-blocking read of one
// byte, a times() call for its timer and a 1 ms usleep. The benchmark does
// the same on a pty of its own and measures the CPU time per round; the
// floor of the server's CPU time is this cost times the number of such
// wakeups that the pacing asks for.
#pragma once

namespace qobench {

struct PollCost {
    double cpu_us = 0;     // CPU time per round
    double period_ms = 0;  // wall time per round (1 ms asked for)
    bool measured = false;
};

PollCost measure_poll_cost(int rounds);

}  // namespace qobench
