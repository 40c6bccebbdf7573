// SPDX-License-Identifier: MIT
// All measurements on one line, in the order they are made: the idle
// server, sends, request/response, receives, the receive burst and the
// two waits for a turn.
#pragma once

#include <array>
#include <ostream>

#include "bench_options.h"
#include "bench_rig.h"
#include "process_usage.h"
#include "receive_runs.h"
#include "send_runs.h"
#include "turn_waits.h"
#include "wire_floor.h"

namespace qobench {

// The waits for a turn stop at a trial that waits longer than this.
inline constexpr int WAIT_LIMIT_S = 20;

struct Measurements {
    LineUnderTest line;
    Usage idle;
    std::array<SendSeries, LENGTHS.size()> sends;  // latency, and the rate of sends one after the other
    TimedSeries requests;
    std::array<ReceiveSeries, LENGTHS.size()> receives;
    ReceiveSeries burst;
    WaitSeries send_waits;     // the application's send while the partner sends back to back
    WaitSeries receive_waits;  // a partner telegram while the application sends back to back
    bool complete = false;     // not cut short by SIGINT
};

// How many exchanges of `each_ms` wire time a series of `wanted` has: on
// an emulated line no more than fit into options.line_seconds, 3 at least.
size_t series_length(size_t wanted, double each_ms, const BenchOptions& options);

// Runs everything against `rig`; one progress line per step goes to `progress`.
Measurements run_measurements(BenchRig& rig, const LineUnderTest& line, const BenchOptions& options,
                              std::ostream& progress);

}  // namespace qobench
