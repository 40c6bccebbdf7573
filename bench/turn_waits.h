// SPDX-License-Identifier: MIT
// The two waits for a turn on a busy line, each timed over a number of
// trials at random moments:
//  - the application's send while the partner sends back to back: from
//    the call of qo3964m_send to its return with the acknowledgement;
//  - a partner telegram while the application sends back to back: from
//    the moment the partner has it to send until the application has
//    fetched it (qo3964m_receive_wait on a second handle), with any
//    repetition of the partner after a refused or failed attempt.
// A series stops at the first trial that waits longer than its limit; that
// trial counts with the time it waited, a lower bound.
#pragma once

#include <cstddef>
#include <vector>

#include "bench_rig.h"
#include "wire_floor.h"

namespace qobench {

struct WaitSeries {
    std::vector<double> waits_ms;
    std::vector<double> floors_ms;  // the waiting telegram's own wire time
    double busy_ms = 0;             // wire time of one telegram of the busy side
    size_t over_limit = 0;          // trials that waited past the limit (the last one)
    size_t failed = 0;              // sends that failed, telegrams the partner gave up
    size_t repeated = 0;            // trials in which the partner needed more than one attempt
    size_t busy_lost = 0;           // telegrams of the busy side acknowledged but not received
    size_t busy_duplicated = 0;     // ... received twice
};

WaitSeries run_send_waits(BenchRig& rig, const LineUnderTest& line, size_t trials, int limit_s);
WaitSeries run_receive_waits(BenchRig& rig, const LineUnderTest& line, size_t trials, int limit_s);

}  // namespace qobench
