// SPDX-License-Identifier: MIT
// Order statistics of a set of samples.
#pragma once

#include <vector>

namespace qobench {

// The p-th percentile (0 < p <= 100) by the nearest-rank method: the
// smallest sample that at least p % of the samples do not exceed. 0 for
// no samples.
double percentile(std::vector<double> samples, double p);

inline double median(const std::vector<double>& samples)
{
    return percentile(samples, 50);
}

double maximum(const std::vector<double>& samples);

}  // namespace qobench
