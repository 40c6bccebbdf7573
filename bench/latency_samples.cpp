// SPDX-License-Identifier: MIT
#include "latency_samples.h"

#include <cstdio>

namespace qobench {

std::string latency_samples_csv(const std::vector<LatencySeries>& series)
{
    std::string text = "series,sample,latency_ms\n";
    for (const LatencySeries& s : series) {
        for (size_t i = 0; i < s.samples_ms.size(); ++i) {
            char value[64];
            std::snprintf(value, sizeof value, "%.3f", s.samples_ms[i]);
            text += s.title + "," + std::to_string(i) + "," + value + "\n";
        }
    }
    return text;
}

}  // namespace qobench
