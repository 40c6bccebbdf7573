// SPDX-License-Identifier: MIT
#include "receive_runs.h"

#include <chrono>
#include <future>
#include <vector>

#include "numbered_telegram.h"
#include "qo3964_client.h"

namespace qobench {

namespace {

using Clock = std::chrono::steady_clock;

// Once the partner has finished all its sends, a delivery that has not
// come within this time will not come.
constexpr auto QUIET_LIMIT = std::chrono::seconds(2);
// Only a hung server meets these.
constexpr auto BASE_LIMIT = std::chrono::seconds(60);
constexpr auto PER_TELEGRAM_LIMIT = std::chrono::milliseconds(500);
// How long one wait for a telegram lasts before the limits are looked at.
constexpr int WAIT_SLICE_MS = 50;

bool all_ready(std::vector<std::future<qopartner::SendReport>>& reports)
{
    for (auto& report : reports) {
        if (report.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            return false;
        }
    }
    return true;
}

}  // namespace

ReceiveSeries run_receives(BenchRig& rig, const LineUnderTest& line, size_t length, size_t count)
{
    ReceiveSeries series;
    series.wanted = count;
    std::vector<uint8_t> buffer(QO3964_TELEGRAM_MAX);
    const int size = static_cast<int>(buffer.size());

    std::vector<std::future<qopartner::SendReport>> reports;
    reports.reserve(count);
    std::vector<uint8_t> seen(count, 0);

    drop_received();  // whatever an earlier run left behind is not counted

    std::vector<Bytes> telegrams;
    telegrams.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        telegrams.push_back(numbered_telegram(static_cast<uint32_t>(i), length));
        series.floor_ms += line.wire_ms(telegrams.back());
    }
    const UsageWatch usage(rig.server().pid());
    const Clock::time_point first = Clock::now();
    for (Bytes& telegram : telegrams) {
        reports.push_back(rig.partner().send(std::move(telegram)));
    }
    const Clock::time_point limit = first + BASE_LIMIT + PER_TELEGRAM_LIMIT * static_cast<long>(count) +
                                    std::chrono::milliseconds(static_cast<long>(3 * series.floor_ms));
    Clock::time_point last_new = first;
    bool partner_done = false;

    while (series.delivered < count && !interrupted()) {
        spoil_number(buffer.data(), buffer.size());
        const int result = qo3964m_receive_wait(BENCH_HANDLE, buffer.data(), size, WAIT_SLICE_MS);
        if (result != 0) {
            if (result < 0) {
                ++series.error_results;
                if (result == QO3964_ERR_SHUTDOWN || result == QO3964_ERR_NOT_ATTACHED) {
                    break;
                }
            }
            // An entry with an error code may still carry a telegram's
            // bytes; a spoiled number tells when it does not.
            const size_t got = result > 0 ? static_cast<size_t>(result) : length;
            const std::optional<uint32_t> number = telegram_number(buffer.data(), got);
            if (number && *number < count) {
                if (seen[*number] != 0) {
                    ++series.duplicated;
                } else {
                    seen[*number] = 1;
                    ++series.delivered;
                    last_new = Clock::now();
                }
            }
            continue;  // look again at once: more may be waiting
        }
        const Clock::time_point now = Clock::now();
        if (now >= limit) {
            break;
        }
        partner_done = partner_done || all_ready(reports);
        if (partner_done && now - last_new > QUIET_LIMIT) {
            break;
        }
    }
    series.server = usage.finish();
    series.elapsed_s = std::chrono::duration<double>(last_new - first).count();
    series.lost = count - series.delivered;
    series.complete = series.delivered == count;
    // The application may have the last telegram before the partner has
    // seen the DLE that acknowledges it: a character later on a slow line.
    if (!reports.empty() && !interrupted()) {
        reports.back().wait_for(QUIET_LIMIT);
    }
    if (!all_ready(reports)) {
        // Cut short: the partner drops what it has not sent yet, and the
        // answers to what it had begun, so that the next run starts on a
        // quiet line.
        rig.partner().stop();
        rig.partner().line().discard_input();
        rig.partner().start();
    }
    for (auto& report : reports) {
        if (report.get().outcome != qopartner::SendOutcome::acknowledged) {
            ++series.partner_failed;
        }
    }
    return series;
}

}  // namespace qobench
