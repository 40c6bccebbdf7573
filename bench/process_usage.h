// SPDX-License-Identifier: MIT
// What a process has used so far, over all its threads, read from /proc:
// CPU time (the sum of its threads' run time in /proc/<pid>/task/*/schedstat,
// to the nanosecond; utime + stime of /proc/<pid>/stat, in clock ticks,
// where the kernel keeps no schedstat) and how often its threads went to
// sleep or were put aside (voluntary + nonvoluntary context switches of
// /proc/<pid>/task/*/status): its wake-ups. Two readings give the usage
// between them.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <sys/types.h>

namespace qobench {

struct UsageReading {
    std::chrono::steady_clock::time_point when;
    double cpu_ms = 0;
    uint64_t switches = 0;
};

std::optional<UsageReading> read_usage(pid_t pid);

// The usage between two readings of the same process.
struct Usage {
    double wall_s = 0;
    double cpu_ms = 0;
    double wakeups = 0;

    double cpu_ms_per_s() const { return wall_s > 0 ? cpu_ms / wall_s : 0; }
    double wakeups_per_s() const { return wall_s > 0 ? wakeups / wall_s : 0; }
};

Usage usage_between(const UsageReading& first, const UsageReading& last);

// Reads the usage of a process from its construction to `finish`.
class UsageWatch {
public:
    explicit UsageWatch(pid_t pid) : pid_(pid), first_(read_usage(pid)) {}
    Usage finish() const;

private:
    pid_t pid_;
    std::optional<UsageReading> first_;
};

}  // namespace qobench
