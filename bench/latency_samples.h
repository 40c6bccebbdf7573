// SPDX-License-Identifier: MIT
// Every send latency of a run, for plotting or a
// closer look: CSV rows "series,sample,latency_ms" in the order taken.
#pragma once

#include <string>
#include <vector>

namespace qobench {

struct LatencySeries {
    std::string title;
    std::vector<double> samples_ms;
};

std::string latency_samples_csv(const std::vector<LatencySeries>& series);

}  // namespace qobench
