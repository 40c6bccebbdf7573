// SPDX-License-Identifier: MIT
// The floors of all figures, from the pacing model (pacing_model.h) run
// with the configured values: once for a pty, where bytes move instantly,
// and once for a real line at the configured speed.
#pragma once

#include <array>
#include <vector>

#include "bench_options.h"
#include "pacing_model.h"

namespace qobench {

struct FloorSet {
    std::array<std::vector<double>, LATENCY_LENGTHS.size()> latency_ms;  // pooled over the model's runs
    std::array<double, THROUGHPUT_LENGTHS.size()> send_rate{};           // telegrams/s, median of the runs
    std::array<double, THROUGHPUT_LENGTHS.size()> receive_rate{};
    std::array<double, THROUGHPUT_LENGTHS.size()> send_wakeups{};        // server sleeps per s
    std::array<double, THROUGHPUT_LENGTHS.size()> receive_wakeups{};
    double burst_ms = 0;
    double idle_wakeups = 0;
    bool finished = true;  // every model run came to its end
};

FloorSet compute_floors(const PacingSettings& settings, const BenchOptions& options);

}  // namespace qobench
