// SPDX-License-Identifier: MIT
#include "wire_timing.h"

#include <algorithm>

namespace qopartner {

namespace {

// Bits of one character: start bit, 8 data bits, a parity bit unless
// `parity` is 'N', one stop bit.
int character_bits(char parity)
{
    return parity == 'N' ? 10 : 11;
}

}  // namespace

std::chrono::nanoseconds character_time(int baud, char parity)
{
    if (baud <= 0) {
        return std::chrono::nanoseconds(0);
    }
    return std::chrono::nanoseconds(1000000000LL * character_bits(parity) / baud);
}

WireTiming::Clock::time_point WireTiming::arrival_of(Clock::time_point ready, long count) const
{
    return std::max(ready, line_free_) + character_ * count;
}

void WireTiming::send_one(Clock::time_point ready)
{
    line_free_ = arrival_of(ready, 1);
}

WireTiming::Clock::time_point WireTiming::seen_at(Clock::time_point arrival) const
{
    return std::max(arrival, last_seen_) + character_;
}

}  // namespace qopartner
