// SPDX-License-Identifier: MIT
#include "floors.h"

#include "statistics.h"

namespace qobench {

namespace {

// Long enough for the idle pattern to repeat many times.
constexpr double IDLE_MODEL_MS = 60000;

std::vector<Bytes> numbered(size_t count, size_t length)
{
    std::vector<Bytes> telegrams;
    telegrams.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        telegrams.push_back(numbered_telegram(static_cast<uint32_t>(i), length));
    }
    return telegrams;
}

double per_second(double amount, double elapsed_ms)
{
    return elapsed_ms > 0 ? amount * 1000.0 / elapsed_ms : 0;
}

struct RateFloor {
    double rate = 0;
    double wakeups = 0;
    double elapsed_ms = 0;
};

template <typename Model>
RateFloor rate_floor(Model model, const PacingSettings& settings, const std::vector<Bytes>& telegrams,
                     const BenchOptions& options, bool& finished)
{
    std::vector<double> rates;
    std::vector<double> wakeups;
    std::vector<double> elapsed;
    for (int run = 0; run < options.model_runs; ++run) {
        const ModelRun result = model(settings, telegrams, options.seed + static_cast<uint64_t>(run));
        finished = finished && result.finished;
        rates.push_back(per_second(static_cast<double>(result.completed), result.elapsed_ms));
        wakeups.push_back(per_second(result.server_wakeups, result.elapsed_ms));
        elapsed.push_back(result.elapsed_ms);
    }
    return {median(rates), median(wakeups), median(elapsed)};
}

}  // namespace

FloorSet compute_floors(const PacingSettings& settings, const BenchOptions& options)
{
    FloorSet floors;
    for (size_t i = 0; i < LATENCY_LENGTHS.size(); ++i) {
        const std::vector<Bytes> telegrams =
            numbered(static_cast<size_t>(options.latency_sends), static_cast<size_t>(LATENCY_LENGTHS[i]));
        for (int run = 0; run < options.model_runs; ++run) {
            const ModelRun result = model_sends(settings, telegrams, options.seed + static_cast<uint64_t>(run));
            floors.finished = floors.finished && result.finished;
            floors.latency_ms[i].insert(floors.latency_ms[i].end(), result.latencies_ms.begin(),
                                        result.latencies_ms.end());
        }
    }
    for (size_t i = 0; i < THROUGHPUT_LENGTHS.size(); ++i) {
        const size_t length = static_cast<size_t>(THROUGHPUT_LENGTHS[i]);
        const RateFloor sends = rate_floor(model_sends, settings,
                                           numbered(static_cast<size_t>(options.send_counts[i]), length), options,
                                           floors.finished);
        floors.send_rate[i] = sends.rate;
        floors.send_wakeups[i] = sends.wakeups;
        const RateFloor receives = rate_floor(model_receives, settings,
                                              numbered(static_cast<size_t>(options.receive_counts[i]), length),
                                              options, floors.finished);
        floors.receive_rate[i] = receives.rate;
        floors.receive_wakeups[i] = receives.wakeups;
    }
    floors.burst_ms = rate_floor(model_receives, settings,
                                 numbered(static_cast<size_t>(options.burst), BURST_LENGTH), options, floors.finished)
                          .elapsed_ms;
    std::vector<double> idle;
    for (int run = 0; run < options.model_runs; ++run) {
        const ModelRun result = model_idle(settings, IDLE_MODEL_MS, options.seed + static_cast<uint64_t>(run));
        idle.push_back(per_second(result.server_wakeups, result.elapsed_ms));
    }
    floors.idle_wakeups = median(idle);
    return floors;
}

}  // namespace qobench
