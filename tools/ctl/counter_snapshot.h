// SPDX-License-Identifier: MIT
// One look at the server's counters and settings in its segment
// (ServerCounters), every field read once and whole.
#pragma once

#include <array>
#include <cstdint>

#include "counter_table.h"
#include "shared_segment.h"

using namespace qo3964;

namespace qoctl {

struct CounterSnapshot {
    bool present = false;  // false: a server that keeps no counters (or not yet)
    int32_t baud = 0;
    int32_t zvz_ms = 0;
    int32_t qvz_ms = 0;
    int16_t tds = 0;
    int16_t tdr = 0;
    int16_t mmode = 0;
    uint8_t bcc_mode = 0;
    std::array<uint64_t, counter_table.size()> values{};  // in the order of counter_table
};

CounterSnapshot read_counters(const volatile SharedSegment& segment);

}  // namespace qoctl
