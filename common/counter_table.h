// SPDX-License-Identifier: MIT
// The server's counters (ServerCounters of the segment) by name: the
// names qo3964_ctl status prints them under (its text, --json and
// --prometheus forms) and what each one means. One table for the server,
// which moves the counts into the segment by it, and for the tool.
#pragma once

#include <array>
#include <cstdint>

#include "shared_segment.h"

namespace qo3964 {

enum class CounterKind : uint8_t {
    count,  // goes up from the start
    time,   // a time of day, milliseconds since 1970; 0 never
};

struct CounterInfo {
    const char* name;  // also the JSON field; Prometheus: qo3964_<name>_total
    uint64_t ServerCounters::*field;
    CounterKind kind;
    const char* help;
};

inline constexpr std::array<CounterInfo, 27> counter_table{{
    {"started_ms", &ServerCounters::started_ms, CounterKind::time, "when the server started"},
    {"telegrams_sent", &ServerCounters::telegrams_sent, CounterKind::count,
     "telegrams sent and acknowledged by the partner"},
    {"bytes_sent", &ServerCounters::bytes_sent, CounterKind::count, "data bytes of the telegrams sent"},
    {"last_sent_ms", &ServerCounters::last_sent_ms, CounterKind::time, "when the latest telegram was sent"},
    {"telegrams_received", &ServerCounters::telegrams_received, CounterKind::count,
     "telegrams received and acknowledged"},
    {"bytes_received", &ServerCounters::bytes_received, CounterKind::count, "data bytes of the telegrams received"},
    {"last_received_ms", &ServerCounters::last_received_ms, CounterKind::time,
     "when the latest telegram was received"},
    {"sends_failed_no_connect", &ServerCounters::sends_failed_no_connect, CounterKind::count,
     "sends that failed with -84: STX not answered by DLE (or the port down)"},
    {"sends_failed_no_ack", &ServerCounters::sends_failed_no_ack, CounterKind::count,
     "sends that failed with -67: the telegram not acknowledged"},
    {"sends_failed_break", &ServerCounters::sends_failed_break, CounterKind::count,
     "sends that failed with -55: BREAK on the line"},
    {"sends_failed_too_long", &ServerCounters::sends_failed_too_long, CounterKind::count,
     "sends refused with -11: a length outside 0 to 4096"},
    {"sends_failed_other", &ServerCounters::sends_failed_other, CounterKind::count,
     "sends that failed with another code"},
    {"attempts_failed", &ServerCounters::attempts_failed, CounterKind::count,
     "send attempts that failed, the last of a failed send included"},
    {"attempts_refused", &ServerCounters::attempts_refused, CounterKind::count,
     "failed send attempts that the partner answered with NAK"},
    {"receptions_refused", &ServerCounters::receptions_refused, CounterKind::count,
     "receptions that failed (BCC, character delay time, overflow)"},
    {"receptions_repeated", &ServerCounters::receptions_repeated, CounterKind::count,
     "telegrams received whole after failed receptions of them"},
    {"receptions_reported", &ServerCounters::receptions_reported, CounterKind::count,
     "failed receptions in a row reported to the application"},
    {"telegrams_lost", &ServerCounters::telegrams_lost, CounterKind::count,
     "telegrams refused with -83 because the receive ring stayed full"},
    {"line_breaks", &ServerCounters::line_breaks, CounterKind::count, "BREAKs on the idle line"},
    {"line_parity_errors", &ServerCounters::line_parity_errors, CounterKind::count,
     "parity or framing errors on the idle line"},
    {"port_lost", &ServerCounters::port_lost, CounterKind::count, "times the port went away"},
    {"port_back", &ServerCounters::port_back, CounterKind::count, "times the port was opened again"},
    {"partner_silent", &ServerCounters::partner_silent, CounterKind::count, "times the partner stopped answering"},
    {"partner_back", &ServerCounters::partner_back, CounterKind::count, "times the partner answered again"},
    {"segment_repairs", &ServerCounters::segment_repairs, CounterKind::count,
     "fields of the segment put back after another program wrote them wrong"},
    {"output_dropped", &ServerCounters::output_dropped, CounterKind::count,
     "console and runtime log writes dropped because their reader took nothing"},
    {"trace_lines_dropped", &ServerCounters::trace_lines_dropped, CounterKind::count,
     "trace lines the trace file did not take"},
}};

}  // namespace qo3964
