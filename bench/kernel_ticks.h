// SPDX-License-Identifier: MIT
// The kernel's own tick rate (HZ), as far as the DeadlineTimers see it.
// times() counts clock ticks (usually 100 per second) computed from the
// kernel's jiffies as jiffies * 100 / HZ; where HZ is no multiple of 100
// the ticks are uneven (at HZ 250: 8 and 12 ms apart in turn), and so are
// the lengths of the engine's short reads. The rate is found by watching
// times() advance for a moment.
#pragma once

namespace qobench {

struct KernelTicks {
    int hz = 100;                // the jiffy rate to model
    double shortest_ms = 10;     // the tick intervals seen
    double longest_ms = 10;
};

// Watches `ticks` tick intervals; `clock_ticks` is sysconf(_SC_CLK_TCK).
KernelTicks measure_kernel_ticks(int clock_ticks, int ticks);

}  // namespace qobench
