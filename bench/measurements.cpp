// SPDX-License-Identifier: MIT
#include "measurements.h"

#include <chrono>
#include <thread>

namespace qobench {

namespace {

// The idle measurement sleeps in short pieces, so that SIGINT ends it soon.
constexpr auto IDLE_PIECE = std::chrono::milliseconds(100);

UsageRates measure_idle(BenchRig& rig, int seconds)
{
    const std::optional<UsageReading> before = read_usage(rig.server().pid());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end && !interrupted()) {
        std::this_thread::sleep_for(IDLE_PIECE);
    }
    const std::optional<UsageReading> after = read_usage(rig.server().pid());
    return before && after ? usage_between(*before, *after) : UsageRates{};
}

}  // namespace

Measurements run_measurements(BenchRig& rig, const BenchOptions& options, std::ostream& progress)
{
    Measurements m;
    progress << "idle server, " << options.idle_seconds << " s" << std::endl;
    m.idle = measure_idle(rig, options.idle_seconds);

    for (size_t i = 0; i < LATENCY_LENGTHS.size() && !interrupted(); ++i) {
        progress << "send latency, " << options.latency_sends << " x " << LATENCY_LENGTHS[i] << " B" << std::endl;
        m.latency[i] = run_sends(rig, static_cast<size_t>(LATENCY_LENGTHS[i]), static_cast<size_t>(options.latency_sends));
    }
    for (size_t i = 0; i < THROUGHPUT_LENGTHS.size() && !interrupted(); ++i) {
        const size_t length = static_cast<size_t>(THROUGHPUT_LENGTHS[i]);
        for (int round = 0; round < options.rounds && !interrupted(); ++round) {
            progress << "application -> partner, " << options.send_counts[i] << " x " << length << " B, round "
                     << round + 1 << std::endl;
            m.sends[i].push_back(run_sends(rig, length, static_cast<size_t>(options.send_counts[i])));
        }
    }
    for (size_t i = 0; i < THROUGHPUT_LENGTHS.size() && !interrupted(); ++i) {
        const size_t length = static_cast<size_t>(THROUGHPUT_LENGTHS[i]);
        for (int round = 0; round < options.rounds && !interrupted(); ++round) {
            progress << "partner -> application, " << options.receive_counts[i] << " x " << length << " B, round "
                     << round + 1 << std::endl;
            m.receives[i].push_back(
                run_receives(rig, length, static_cast<size_t>(options.receive_counts[i]), options.poll_ms));
        }
    }
    if (!interrupted()) {
        progress << "receive burst, " << options.burst << " x " << BURST_LENGTH << " B" << std::endl;
        m.burst = run_receives(rig, BURST_LENGTH, static_cast<size_t>(options.burst), options.poll_ms);
    }
    m.complete = !interrupted();
    return m;
}

}  // namespace qobench
