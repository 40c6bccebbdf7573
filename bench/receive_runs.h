// SPDX-License-Identifier: MIT
// Telegrams from the partner to the application: the partner sends
// numbered telegrams back to back, the application fetches them with
// qo3964m_receive_wait, which returns as soon as one is there.
#pragma once

#include <cstddef>

#include "bench_rig.h"
#include "process_usage.h"
#include "wire_floor.h"

namespace qobench {

struct ReceiveSeries {
    size_t wanted = 0;
    size_t delivered = 0;       // distinct numbers the application got
    size_t lost = 0;            // numbers it never got
    size_t duplicated = 0;      // deliveries of a number it already had
    size_t error_results = 0;   // negative results of qo3964m_receive_wait
    size_t partner_failed = 0;  // telegrams the partner gave up on
    double elapsed_s = 0;       // queueing to the last new delivery
    double floor_ms = 0;        // the wire time of all wanted telegrams
    Usage server;
    bool complete = false;      // every telegram delivered
};

ReceiveSeries run_receives(BenchRig& rig, const LineUnderTest& line, size_t length, size_t count);

}  // namespace qobench
