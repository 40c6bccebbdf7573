// SPDX-License-Identifier: MIT
// Waking the other side of the segment instead of letting it poll.
//
// Applications wait for a result or a telegram on the `state` word of its
// job block, the server for work on the segment's doorbell word; the side
// that hands a block over wakes the waiters of the word it wrote. These are
// futexes on the segment's own words: shared, not private ones, as the
// segment is mapped by processes of other accounts too. Nobody relies on
// being woken: every wait has a bound and looks again, so a program that
// does not ring (an older library, a tool writing the stop byte) is still
// served, only later.
#pragma once

#include <cstdint>

#include "shared_segment.h"

namespace qo3964 {

// Wakes every process waiting on `word`.
void wake_waiters(volatile int32_t& word);
// Waits while `word` holds `seen`, at most timeout_ms (0 or less: not at
// all); returns early on a wake, a change or a signal.
void wait_while(volatile int32_t& word, int32_t seen, int32_t timeout_ms);

// Tells the server that something was handed to it (a job submitted, a
// received telegram collected, a stop order written).
void ring_doorbell(volatile SharedSegment& segment);
// The doorbell's count, and the wait for it to change (the server's side).
uint32_t doorbell_count(const volatile SharedSegment& segment);
void wait_for_doorbell(volatile SharedSegment& segment, uint32_t seen, int32_t timeout_ms);

}  // namespace qo3964
