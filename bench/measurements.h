// SPDX-License-Identifier: MIT
// All measurements of one benchmark run, in the order they are made:
// the idle server, send latency, throughput both ways, the receive burst.
#pragma once

#include <array>
#include <ostream>
#include <vector>

#include "bench_options.h"
#include "bench_rig.h"
#include "process_usage.h"
#include "receive_runs.h"
#include "send_runs.h"

namespace qobench {

struct Measurements {
    UsageRates idle;
    std::array<SendSeries, LATENCY_LENGTHS.size()> latency;
    std::array<std::vector<SendSeries>, THROUGHPUT_LENGTHS.size()> sends;        // one per round
    std::array<std::vector<ReceiveSeries>, THROUGHPUT_LENGTHS.size()> receives;  // one per round
    ReceiveSeries burst;
    bool complete = false;  // not cut short by SIGINT
};

// Runs everything against `rig`; one progress line per step goes to `progress`.
Measurements run_measurements(BenchRig& rig, const BenchOptions& options, std::ostream& progress);

}  // namespace qobench
