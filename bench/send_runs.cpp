// SPDX-License-Identifier: MIT
#include "send_runs.h"

#include <chrono>

#include "numbered_telegram.h"
#include "qo3964_client.h"

namespace qobench {

namespace {

using Clock = std::chrono::steady_clock;

// Far beyond what one send takes (6 attempts of qvz at the defaults are
// 12 s, a 4096 B telegram at 1200 baud 38 s); only a hung server meets it.
constexpr int SEND_TIMEOUT_S = 60;
constexpr int ANSWER_TIMEOUT_MS = 60000;

double ms_between(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

bool stops_everything(int result)
{
    return result == QO3964_ERR_SHUTDOWN || result == QO3964_ERR_NOT_ATTACHED;
}

// How one exchange ended: its wire time, or the result that failed it.
struct Outcome {
    bool done = false;
    int result = 0;
    double floor_ms = 0;
};

// `count` exchanges one after the other, numbered from 0, each timed from
// its start to its end; returns how many were made.
template <typename Exchange>
size_t run_series(TimedSeries& series, pid_t server, size_t count, Exchange exchange)
{
    const UsageWatch usage(server);
    const Clock::time_point first = Clock::now();
    Clock::time_point last = first;
    size_t made = 0;
    for (uint32_t number = 0; number < count && !interrupted(); ++number) {
        const Clock::time_point start = Clock::now();
        const Outcome outcome = exchange(number);
        last = Clock::now();
        ++made;
        if (outcome.done) {
            series.times_ms.push_back(ms_between(start, last));
            series.floors_ms.push_back(outcome.floor_ms);
        } else {
            ++series.failed;
            if (stops_everything(outcome.result)) {
                break;
            }
        }
    }
    series.server = usage.finish();
    series.elapsed_s = std::chrono::duration<double>(last - first).count();
    series.complete = made == count;
    return made;
}

}  // namespace

SendSeries run_sends(BenchRig& rig, const LineUnderTest& line, size_t length, size_t count)
{
    SendSeries series;
    rig.take_partner_numbers();  // forget what earlier runs left
    const size_t made = run_series(series, rig.server().pid(), count, [&](uint32_t number) {
        const Bytes telegram = numbered_telegram(number, length);
        const int result = qo3964m_send(BENCH_HANDLE, telegram.data(), static_cast<int>(telegram.size()), SEND_TIMEOUT_S);
        return Outcome{result == QO3964_SEND_DONE, result, line.wire_ms(telegram)};
    });

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

TimedSeries run_requests(BenchRig& rig, const LineUnderTest& line, size_t count)
{
    TimedSeries series;
    drop_received();
    rig.answer_with(ANSWER_LENGTH);
    std::vector<uint8_t> buffer(QO3964_TELEGRAM_MAX);
    run_series(series, rig.server().pid(), count, [&](uint32_t number) {
        const Bytes request = numbered_telegram(number, REQUEST_LENGTH);
        const int sent = qo3964m_send(BENCH_HANDLE, request.data(), static_cast<int>(request.size()), SEND_TIMEOUT_S);
        if (sent != QO3964_SEND_DONE) {
            return Outcome{false, sent, 0};
        }
        spoil_number(buffer.data(), buffer.size());
        const int got = qo3964m_receive_wait(BENCH_HANDLE, buffer.data(), static_cast<int>(buffer.size()),
                                             ANSWER_TIMEOUT_MS);
        const std::optional<uint32_t> answered =
            got > 0 ? telegram_number(buffer.data(), static_cast<size_t>(got)) : std::nullopt;
        if (got != ANSWER_LENGTH || answered != number) {
            if (!stops_everything(got)) {
                drop_received();  // a late answer must not pass for the next one's
            }
            return Outcome{false, got, 0};
        }
        const Bytes answer = numbered_telegram(number, ANSWER_LENGTH);
        return Outcome{true, got, line.wire_ms(request) + line.wire_ms(answer)};
    });
    rig.answer_with(0);
    return series;
}

}  // namespace qobench
