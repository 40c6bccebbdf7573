// SPDX-License-Identifier: MIT
// Sends from the application to the partner: qo3964m_send of numbered
// telegrams one after the other, each timed from the call to its return;
// and request/response cycles: a telegram out, the partner's answer
// fetched with qo3964m_receive_wait.
#pragma once

#include <cstddef>
#include <vector>

#include "bench_rig.h"
#include "process_usage.h"
#include "wire_floor.h"

namespace qobench {

// Timed exchanges, each beside its wire time.
struct TimedSeries {
    std::vector<double> times_ms;   // of the exchanges that succeeded
    std::vector<double> floors_ms;  // their wire times, in the same order
    double elapsed_s = 0;           // first call to last return
    size_t failed = 0;              // exchanges that did not succeed
    Usage server;                   // the server's CPU time and wake-ups meanwhile
    bool complete = false;          // all were made (not cut short)
};

struct SendSeries : TimedSeries {
    size_t partner_missing = 0;     // acknowledged, but not received by the partner
    size_t partner_duplicated = 0;  // received by the partner more than once
};

SendSeries run_sends(BenchRig& rig, const LineUnderTest& line, size_t length, size_t count);
TimedSeries run_requests(BenchRig& rig, const LineUnderTest& line, size_t count);

}  // namespace qobench
