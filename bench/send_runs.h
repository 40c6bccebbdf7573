// SPDX-License-Identifier: MIT
// Sends from the application to the partner: qo3964m_send of numbered
// telegrams, one after the other, each timed from the call to its return.
#pragma once

#include <cstddef>
#include <vector>

#include "bench_rig.h"
#include "process_usage.h"

namespace qobench {

struct SendSeries {
    std::vector<double> latencies_ms;  // of the sends that returned 2
    double elapsed_s = 0;              // first call to last return
    size_t failed = 0;                 // sends that returned anything but 2
    size_t partner_missing = 0;        // sent, but not received by the partner
    size_t partner_duplicated = 0;     // received by the partner more than once
    UsageRates server;                 // the server's CPU time and wakeups meanwhile
    bool complete = false;             // all sends were made (not cut short)
};

SendSeries run_sends(BenchRig& rig, size_t length, size_t count);

}  // namespace qobench
