// SPDX-License-Identifier: MIT
// PNG charts of a run, drawn by gnuplot when it is installed: the latency
// distributions, and the throughputs beside the rates of the wire.
// Without gnuplot nothing is drawn and nothing is said.
#pragma once

#include <string>
#include <vector>

#include "latency_samples.h"

namespace qobench {

struct RateBar {
    std::string label;
    double measured = 0;
    double floor = 0;
};

// Returns the PNG files written into `folder`; none without gnuplot.
std::vector<std::string> draw_charts(const std::vector<LatencySeries>& latencies, const std::vector<RateBar>& rates,
                                     const std::string& folder);

}  // namespace qobench
