// SPDX-License-Identifier: MIT
// What a process has used so far, read from /proc: CPU time (utime + stime
// of /proc/<pid>/stat) and how often it went to sleep of its own accord
// (voluntary_ctxt_switches of /proc/<pid>/status), with the wall time of
// the reading. Two readings give the rates between them.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <sys/types.h>

namespace qobench {

struct UsageReading {
    std::chrono::steady_clock::time_point when;
    double cpu_ms = 0;             // utime + stime
    uint64_t voluntary_switches = 0;
};

std::optional<UsageReading> read_usage(pid_t pid);

// Rates between two readings of the same process.
struct UsageRates {
    double wall_s = 0;
    double cpu_ms_per_s = 0;
    double wakeups_per_s = 0;
};

UsageRates usage_between(const UsageReading& first, const UsageReading& last);

// The process's timer slack (how late the kernel may end its sleeps), in ms;
// the kernel's default of 50 µs when it cannot be read.
double timer_slack_ms(pid_t pid);

}  // namespace qobench
