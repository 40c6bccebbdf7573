// SPDX-License-Identifier: MIT
// The timing of a real serial line, for a partner on a pseudo-terminal,
// where bytes otherwise cross at once. A character takes its bits' time;
// the partner's bytes reach the other end one after another, each a
// character time after the one before it (or after being handed over),
// and a byte of the other side is seen only once it has come in whole: a
// character time after it was written, or after the byte before it was seen.
#pragma once

#include <chrono>

namespace qopartner {

// The time one character takes at `baud` with `parity`.
std::chrono::nanoseconds character_time(int baud, char parity);

class WireTiming {
public:
    using Clock = std::chrono::steady_clock;

    // No time at all: bytes cross as the pseudo-terminal moves them.
    WireTiming() = default;
    explicit WireTiming(std::chrono::nanoseconds character) : character_(character) {}

    bool instant() const { return character_.count() <= 0; }

    // Our next byte, handed to the line at `ready`, takes the line: it
    // goes once the line is free, and the next byte queues behind it.
    void send_one(Clock::time_point ready);
    // The same without taking the line: when `count` more bytes handed over
    // at `ready` would all have arrived (count >= 1).
    Clock::time_point arrival_of(Clock::time_point ready, long count) const;

    // When a byte of the other side that reached us at `arrival` is seen.
    Clock::time_point seen_at(Clock::time_point arrival) const;
    // That byte has been taken at `seen` (as seen_at gave it).
    void take_seen(Clock::time_point seen) { last_seen_ = seen; }

private:
    std::chrono::nanoseconds character_{0};
    Clock::time_point line_free_{};
    Clock::time_point last_seen_{};
};

}  // namespace qopartner
