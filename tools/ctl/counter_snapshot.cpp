// SPDX-License-Identifier: MIT
#include "counter_snapshot.h"

#include "segment_access.h"

namespace qoctl {

CounterSnapshot read_counters(const volatile SharedSegment& segment)
{
    const volatile ServerCounters& counters = segment.info.counters;
    CounterSnapshot snapshot{};
    // The server writes the layout last: the rest is there once it is seen.
    if (load_acquire(counters.layout) != COUNTERS_LAYOUT) {
        return snapshot;
    }
    snapshot.present = true;
    snapshot.baud = load_field(counters.baud);
    snapshot.zvz_ms = load_field(counters.zvz_ms);
    snapshot.qvz_ms = load_field(counters.qvz_ms);
    snapshot.tds = load_field(counters.tds);
    snapshot.tdr = load_field(counters.tdr);
    snapshot.mmode = load_field(counters.mmode);
    snapshot.bcc_mode = load_field(counters.bcc_mode);
    for (size_t i = 0; i < counter_table.size(); ++i) {
        snapshot.values[i] = load_field(counters.*counter_table[i].field);
    }
    return snapshot;
}

}  // namespace qoctl
