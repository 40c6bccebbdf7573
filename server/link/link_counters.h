// SPDX-License-Identifier: MIT
// What the server counts from its start: telegrams and bytes each way,
// failed sends by code, failed attempts, receptions refused and repeated,
// -83 losses, line errors, the port and the partner coming and going,
// segment repairs and dropped output (ServerCounters of the segment).
//
// The counts are kept in a record of the server's own until the segment
// exists, then in the segment's, where every program that may attach it
// reads them while the server runs. The server is their only writer.
#pragma once

#include <cstdint>

#include "shared_segment.h"

namespace qo3964 {

using CounterField = uint64_t ServerCounters::*;

// Moves the counts (and from now on the counting) into `target`.
void counters_publish_in(volatile ServerCounters& target);
// Adds `amount` to a counter.
void count(CounterField field, uint64_t amount = 1);
// Sets a counter (counts kept elsewhere, such as dropped output).
void count_total(CounterField field, uint64_t total);
// Stores the time of day into a field: milliseconds since 1970.
void count_time(CounterField field);
// A send that ended with a negative code, counted under its code.
void count_send_failed(int32_t code);

}  // namespace qo3964
