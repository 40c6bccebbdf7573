// SPDX-License-Identifier: MIT
// Plays the partner's side of a server's trace against a server: the IN
// lines (what that server read) are written with the pauses they had,
// and each OUT line (what it wrote) is waited for and compared, so that a
// fault seen at night can be replayed on a desk. What the server writes
// now in place of a traced line is reported; the replay goes on.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "partner_line.h"
#include "traffic_log.h"
#include "trace_reader.h"

namespace qopartner {

struct ReplaySettings {
    int wait_ms = 5000;        // for each of the server's lines
    int pause_max_ms = 10000;  // longest pause kept between two lines
    int after_ms = 1000;       // after the server has set up its line, before the first one
};

struct ReplayResult {
    int written = 0;   // partner lines written
    int matched = 0;   // server lines that came as traced
    int differed = 0;  // ... that came with other bytes
    int missing = 0;   // ... that did not come in time
    int skipped = 0;   // line errors, which the line cannot carry
    bool stopped = false;
    bool line_lost = false;

    bool as_traced() const { return differed == 0 && missing == 0 && !stopped && !line_lost; }
};

class TraceReplay {
public:
    TraceReplay(PartnerLine& line, std::vector<TraceLine> lines, ReplaySettings settings, TrafficLog& log);
    // Waits until the server has set up the line (on a pseudo-terminal: its
    // mode with parity marking appears) and then after_ms, for it to be
    // ready; then plays every line. `stop` ends it early.
    ReplayResult run(const std::atomic<bool>& stop);

private:
    bool wait_for_server(const std::atomic<bool>& stop);
    void play_server_line(const TraceLine& line, const std::atomic<bool>& stop);
    void play_partner_line(const TraceLine& line, int64_t pause_ms, const std::atomic<bool>& stop);

    PartnerLine& line_;
    std::vector<TraceLine> lines_;
    ReplaySettings settings_;
    TrafficLog& log_;
    ReplayResult result_;
};

}  // namespace qopartner
