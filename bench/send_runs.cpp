// SPDX-License-Identifier: MIT
#include "send_runs.h"

#include <chrono>

#include "numbered_telegram.h"
#include "qo3964_client.h"

namespace qobench {

namespace {

// Far beyond what one send takes (6 attempts of qvz at the defaults are
// 12 s); only a hung server meets it.
constexpr int SEND_TIMEOUT_S = 30;

}  // namespace

SendSeries run_sends(BenchRig& rig, size_t length, size_t count)
{
    SendSeries series;
    std::vector<Bytes> telegrams;
    telegrams.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        telegrams.push_back(numbered_telegram(static_cast<uint32_t>(i), length));
    }
    rig.take_partner_numbers();  // forget what earlier runs left

    const std::optional<UsageReading> before = read_usage(rig.server().pid());
    const auto first = std::chrono::steady_clock::now();
    auto last = first;
    size_t made = 0;
    for (const Bytes& telegram : telegrams) {
        if (interrupted()) {
            break;
        }
        const auto start = std::chrono::steady_clock::now();
        const int result = qo3964m_send(BENCH_HANDLE, telegram.data(), static_cast<int>(telegram.size()), SEND_TIMEOUT_S);
        last = std::chrono::steady_clock::now();
        ++made;
        if (result == QO3964_SEND_DONE) {
            series.latencies_ms.push_back(std::chrono::duration<double, std::milli>(last - start).count());
        } else {
            ++series.failed;
            if (result == QO3964_ERR_SHUTDOWN || result == QO3964_ERR_NOT_ATTACHED) {
                break;
            }
        }
    }
    const std::optional<UsageReading> after = read_usage(rig.server().pid());
    series.elapsed_s = std::chrono::duration<double>(last - first).count();
    if (before && after) {
        series.server = usage_between(*before, *after);
    }
    series.complete = made == count;

    // The partner hands a telegram over before its DLE goes out, so every
    // acknowledged one is in by now.
    std::vector<size_t> seen(count, 0);
    for (const uint32_t number : rig.take_partner_numbers()) {
        if (number < count) {
            ++seen[number];
        }
    }
    for (size_t i = 0; i < made; ++i) {
        if (seen[i] == 0) {
            ++series.partner_missing;
        } else {
            series.partner_duplicated += seen[i] - 1;
        }
    }
    return series;
}

}  // namespace qobench
