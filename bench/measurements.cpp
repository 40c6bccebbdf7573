// SPDX-License-Identifier: MIT
#include "measurements.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace qobench {

namespace {

// The idle measurement sleeps in short pieces, so that SIGINT ends it soon.
constexpr auto IDLE_PIECE = std::chrono::milliseconds(100);
constexpr size_t SHORTEST_SERIES = 3;

Usage measure_idle(BenchRig& rig, int seconds)
{
    const UsageWatch usage(rig.server().pid());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end && !interrupted()) {
        std::this_thread::sleep_for(IDLE_PIECE);
    }
    return usage.finish();
}

}  // namespace

size_t series_length(size_t wanted, double each_ms, const BenchOptions& options)
{
    if (each_ms <= 0) {
        return wanted;
    }
    const auto fitting = static_cast<size_t>(options.line_seconds * 1000.0 / each_ms);
    return std::min(wanted, std::max(SHORTEST_SERIES, fitting));
}

Measurements run_measurements(BenchRig& rig, const LineUnderTest& line, const BenchOptions& options,
                              std::ostream& progress)
{
    Measurements m;
    m.line = line;
    const std::string on = " (" + line.name + ")";
    progress << "idle server, " << options.idle_seconds << " s" << on << std::endl;
    m.idle = measure_idle(rig, options.idle_seconds);

    for (size_t i = 0; i < LENGTHS.size() && !interrupted(); ++i) {
        const size_t length = static_cast<size_t>(LENGTHS[i]);
        const size_t count =
            series_length(static_cast<size_t>(options.sends), line.wire_ms(numbered_telegram(0, length)), options);
        progress << "sends, " << count << " x " << length << " B" << on << std::endl;
        m.sends[i] = run_sends(rig, line, length, count);
    }
    if (!interrupted()) {
        const double cycle_ms =
            line.wire_ms(numbered_telegram(0, REQUEST_LENGTH)) + line.wire_ms(numbered_telegram(0, ANSWER_LENGTH));
        const size_t count = series_length(static_cast<size_t>(options.sends), cycle_ms, options);
        progress << "request/response, " << count << " x " << REQUEST_LENGTH << " B out, " << ANSWER_LENGTH
                 << " B back" << on << std::endl;
        m.requests = run_requests(rig, line, count);
    }
    for (size_t i = 0; i < LENGTHS.size() && !interrupted(); ++i) {
        const size_t length = static_cast<size_t>(LENGTHS[i]);
        const size_t count = series_length(static_cast<size_t>(options.receive_counts[i]),
                                           line.wire_ms(numbered_telegram(0, length)), options);
        progress << "partner -> application, " << count << " x " << length << " B" << on << std::endl;
        m.receives[i] = run_receives(rig, line, length, count);
    }
    if (!interrupted()) {
        progress << "receive burst, " << options.burst << " x " << SHORT_LENGTH << " B" << on << std::endl;
        m.burst = run_receives(rig, line, SHORT_LENGTH, static_cast<size_t>(options.burst));
    }
    const size_t trials = static_cast<size_t>(options.trials);
    if (!interrupted()) {
        progress << "the application's send while the partner sends back to back, " << trials << " trials" << on
                 << std::endl;
        m.send_waits = run_send_waits(rig, line, trials, WAIT_LIMIT_S);
    }
    if (!interrupted()) {
        progress << "a partner telegram while the application sends back to back, " << trials << " trials" << on
                 << std::endl;
        m.receive_waits = run_receive_waits(rig, line, trials, WAIT_LIMIT_S);
    }
    m.complete = !interrupted();
    return m;
}

}  // namespace qobench
