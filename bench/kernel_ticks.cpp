// SPDX-License-Identifier: MIT
#include "kernel_ticks.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <vector>
#include <sys/times.h>
#include <unistd.h>

namespace qobench {

namespace {

using Clock = std::chrono::steady_clock;

// Fine enough to tell 8 from 12 ms, and cheap.
constexpr useconds_t LOOK_INTERVAL_US = 200;
// An interval counts as part of the pattern when it makes up this share.
constexpr double PATTERN_SHARE = 0.2;

clock_t now_ticks()
{
    tms buffer{};
    return times(&buffer);
}

}  // namespace

KernelTicks measure_kernel_ticks(int clock_ticks, int ticks)
{
    KernelTicks result;
    result.hz = clock_ticks;
    result.shortest_ms = result.longest_ms = 1000.0 / clock_ticks;

    // Intervals rounded to whole milliseconds, counted.
    std::map<int, int> seen;
    clock_t last = now_ticks();
    // Begin at a tick, so that the first interval is a whole one.
    while (now_ticks() == last) {
        usleep(LOOK_INTERVAL_US);
    }
    last = now_ticks();
    Clock::time_point since = Clock::now();
    for (int counted = 0; counted < ticks;) {
        usleep(LOOK_INTERVAL_US);
        const clock_t tick = now_ticks();
        if (tick == last) {
            continue;
        }
        const Clock::time_point at = Clock::now();
        // A late look that missed a tick tells nothing about the interval.
        if (tick == last + 1) {
            ++seen[static_cast<int>(std::lround(std::chrono::duration<double, std::milli>(at - since).count()))];
        }
        ++counted;
        last = tick;
        since = at;
    }

    // The two most frequent intervals.
    std::vector<std::pair<int, int>> by_count;  // count, interval
    int total = 0;
    for (const auto& [interval, count] : seen) {
        by_count.push_back({count, interval});
        total += count;
    }
    std::sort(by_count.rbegin(), by_count.rend());
    if (by_count.size() < 2 || by_count[1].first < PATTERN_SHARE * total) {
        return result;  // even ticks
    }
    const int a = std::min(by_count[0].second, by_count[1].second);
    const int b = std::max(by_count[0].second, by_count[1].second);
    if (b - a < 2) {
        return result;  // jitter around an even tick
    }
    result.hz = static_cast<int>(std::lround(1000.0 / (b - a)));
    result.shortest_ms = a;
    result.longest_ms = b;
    return result;
}

}  // namespace qobench
