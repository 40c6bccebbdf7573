// SPDX-License-Identifier: MIT
// Telegrams from the partner to the application: the partner sends
// numbered telegrams back to back, the application drains them with
// qo3964m_receive, pausing only when nothing is waiting.
#pragma once

#include <cstddef>

#include "bench_rig.h"
#include "process_usage.h"

namespace qobench {

struct ReceiveSeries {
    size_t wanted = 0;
    size_t delivered = 0;       // distinct numbers the application got
    size_t lost = 0;            // numbers it never got
    size_t duplicated = 0;      // deliveries of a number it already had
    size_t error_results = 0;   // negative results of qo3964m_receive
    size_t partner_failed = 0;  // telegrams the partner gave up on
    double elapsed_s = 0;       // queueing to the last new delivery
    UsageRates server;
    bool complete = false;      // every telegram delivered
};

ReceiveSeries run_receives(BenchRig& rig, size_t length, size_t count, int poll_ms);

}  // namespace qobench
