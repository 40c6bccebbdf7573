// SPDX-License-Identifier: MIT
#include "turn_waits.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "numbered_telegram.h"
#include "qo3964_client.h"

namespace qobench {

namespace {

using Clock = std::chrono::steady_clock;

// Numbers of the busy side's telegrams and of the trials' own, apart from
// each other and from those of the other runs.
constexpr uint32_t BUSY_BASE = 0x40000000;
constexpr uint32_t TRIAL_BASE = 0x20000000;
// The partner keeps this many telegrams queued, so that it never waits
// for the benchmark to give it the next one.
constexpr size_t PARTNER_QUEUE = 2;
// Bounds for the busy side to get going and for the line to settle after
// it stopped; only a hung server meets them.
constexpr auto START_LIMIT = std::chrono::seconds(10);
constexpr auto SETTLE_LIMIT = std::chrono::seconds(30);
constexpr int WAIT_SLICE_MS = 50;
// The trials come at random moments, with a seed of their own.
constexpr unsigned RANDOM_SEED = 3964;

double ms_between(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

Clock::duration ms(double value)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(value));
}

// A loop on a thread of its own until stopped. The derived class
// launches it last in its constructor and stops it first in its destructor.
class Background {
public:
    Background() = default;
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    void stop()
    {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

protected:
    ~Background() = default;
    template <typename Loop>
    void launch(Loop loop)
    {
        thread_ = std::thread(loop);
    }
    bool stopping() const { return stop_; }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Fetches every telegram on DRAIN_HANDLE and notes when each number first came.
class Drain : public Background {
public:
    Drain() { launch([this] { run(); }); }
    ~Drain() { stop(); }
    // When `number` came, waiting until `until` for it.
    std::optional<Clock::time_point> wait_for(uint32_t number, Clock::time_point until)
    {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_until(lock, until, [&] { return came_.count(number) != 0; })) {
            return std::nullopt;
        }
        return came_[number];
    }
    // How many numbers from `first` on (below first + count) came.
    size_t count_from(uint32_t first, uint32_t count)
    {
        std::lock_guard lock(mutex_);
        return static_cast<size_t>(std::distance(came_.lower_bound(first), came_.lower_bound(first + count)));
    }
    size_t duplicated()
    {
        std::lock_guard lock(mutex_);
        return duplicated_;
    }

private:
    void run()
    {
        std::vector<uint8_t> buffer(QO3964_TELEGRAM_MAX);
        while (!stopping()) {
            spoil_number(buffer.data(), buffer.size());
            const int got = qo3964m_receive_wait(DRAIN_HANDLE, buffer.data(), static_cast<int>(buffer.size()),
                                                 WAIT_SLICE_MS);
            const Clock::time_point now = Clock::now();
            const std::optional<uint32_t> number =
                got > 0 ? telegram_number(buffer.data(), static_cast<size_t>(got)) : std::nullopt;
            if (!number) {
                continue;
            }
            {
                std::lock_guard lock(mutex_);
                if (!came_.emplace(*number, now).second) {
                    ++duplicated_;
                }
            }
            arrived_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::map<uint32_t, Clock::time_point> came_;
    size_t duplicated_ = 0;
};

// The partner sends numbered telegrams back to back until stopped; what
// it has queued then still goes out.
class PartnerStream : public Background {
public:
    explicit PartnerStream(qopartner::Partner& partner) : partner_(partner) { launch([this] { run(); }); }
    ~PartnerStream() { stop(); }

    uint32_t queued() const { return next_; }
    uint32_t acknowledged() const { return acknowledged_; }

private:
    void run()
    {
        std::deque<std::future<qopartner::SendReport>> reports;
        while (!stopping() || !reports.empty()) {
            while (!stopping() && reports.size() < PARTNER_QUEUE) {
                reports.push_back(partner_.send(numbered_telegram(BUSY_BASE + next_, SHORT_LENGTH)));
                ++next_;
            }
            if (reports.front().wait_for(std::chrono::milliseconds(WAIT_SLICE_MS)) == std::future_status::ready) {
                acknowledged_ += reports.front().get().outcome == qopartner::SendOutcome::acknowledged ? 1 : 0;
                reports.pop_front();
            }
        }
    }

    qopartner::Partner& partner_;
    std::atomic<uint32_t> next_{0};
    std::atomic<uint32_t> acknowledged_{0};
};

// The application sends numbered telegrams back to back until stopped.
class SendStream : public Background {
public:
    SendStream() { launch([this] { run(); }); }
    ~SendStream() { stop(); }

    uint32_t made() const { return made_; }
    const std::set<uint32_t>& acknowledged() const { return acknowledged_; }  // once stopped

private:
    void run()
    {
        while (!stopping()) {
            const uint32_t number = BUSY_BASE + made_;
            const Bytes telegram = numbered_telegram(number, SHORT_LENGTH);
            const int result = qo3964m_send(BENCH_HANDLE, telegram.data(), static_cast<int>(telegram.size()), 60);
            ++made_;
            if (result == QO3964_SEND_DONE) {
                acknowledged_.insert(number);
            } else if (result == QO3964_ERR_SHUTDOWN || result == QO3964_ERR_NOT_ATTACHED) {
                return;
            }
        }
    }

    std::atomic<uint32_t> made_{0};
    std::set<uint32_t> acknowledged_;
};

// A random moment within one telegram of the busy side (and 2 ms more,
// for a bare pty), so that the trials meet it in every phase.
class Phases {
public:
    explicit Phases(double busy_ms) : spread_(0.0, busy_ms + 2.0) {}
    void wait() { std::this_thread::sleep_for(ms(spread_(random_))); }

private:
    std::mt19937 random_{RANDOM_SEED};
    std::uniform_real_distribution<double> spread_;
};

template <typename Ready>
bool wait_until(Ready ready, Clock::duration limit)
{
    const Clock::time_point end = Clock::now() + limit;
    while (!ready()) {
        if (Clock::now() >= end || interrupted()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace

WaitSeries run_send_waits(BenchRig& rig, const LineUnderTest& line, size_t trials, int limit_s)
{
    WaitSeries series;
    series.busy_ms = line.wire_ms(numbered_telegram(BUSY_BASE, SHORT_LENGTH));
    drop_received();
    Drain drain;
    PartnerStream stream(rig.partner());
    wait_until([&] { return drain.count_from(BUSY_BASE, stream.queued()) >= PARTNER_QUEUE; },
               START_LIMIT + ms(3 * series.busy_ms));
    Phases phases(series.busy_ms);
    for (uint32_t trial = 0; trial < trials && !interrupted(); ++trial) {
        phases.wait();
        const Bytes telegram = numbered_telegram(TRIAL_BASE + trial, SHORT_LENGTH);
        const Clock::time_point start = Clock::now();
        const int result = qo3964m_send(BENCH_HANDLE, telegram.data(), static_cast<int>(telegram.size()), limit_s);
        const Clock::time_point end = Clock::now();
        if (result == QO3964_SEND_DONE) {
            series.waits_ms.push_back(ms_between(start, end));
            series.floors_ms.push_back(line.wire_ms(telegram));
        } else if (result == QO3964_ERR_TIMEOUT) {
            // Counted with the limit: the wait was at least that long.
            series.waits_ms.push_back(ms_between(start, end));
            series.floors_ms.push_back(line.wire_ms(telegram));
            ++series.over_limit;
            break;
        } else {
            ++series.failed;
        }
    }
    stream.stop();
    // A send given up by the time-out is still the server's: it goes out
    // now that the line is free, and its result is collected.
    wait_until([] { return qo3964m_send_control(BENCH_HANDLE) != QO3964_IN_WORK; }, SETTLE_LIMIT);
    wait_until([&] { return drain.count_from(BUSY_BASE, stream.queued()) >= stream.acknowledged(); }, SETTLE_LIMIT);
    drain.stop();
    series.busy_lost = stream.acknowledged() - std::min<size_t>(stream.acknowledged(),
                                                                drain.count_from(BUSY_BASE, stream.queued()));
    series.busy_duplicated = drain.duplicated();
    rig.take_partner_numbers();
    return series;
}

WaitSeries run_receive_waits(BenchRig& rig, const LineUnderTest& line, size_t trials, int limit_s)
{
    WaitSeries series;
    series.busy_ms = line.wire_ms(numbered_telegram(BUSY_BASE, SHORT_LENGTH));
    rig.take_partner_numbers();
    Drain drain;
    SendStream stream;
    wait_until([&] { return stream.made() >= 2; }, START_LIMIT + ms(3 * series.busy_ms));
    Phases phases(series.busy_ms);
    std::vector<std::future<qopartner::SendReport>> reports;
    for (uint32_t trial = 0; trial < trials && !interrupted(); ++trial) {
        phases.wait();
        const uint32_t number = TRIAL_BASE + trial;
        const Bytes telegram = numbered_telegram(number, SHORT_LENGTH);
        const Clock::time_point start = Clock::now();
        reports.push_back(rig.partner().send(telegram));
        const std::optional<Clock::time_point> came = drain.wait_for(number, start + std::chrono::seconds(limit_s));
        series.waits_ms.push_back(ms_between(start, came ? *came : Clock::now()));
        series.floors_ms.push_back(line.wire_ms(telegram));
        if (!came) {
            ++series.over_limit;  // counted with the limit: the wait was at least that long
            break;
        }
    }
    stream.stop();
    for (auto& report : reports) {
        // Given up or not, the partner ends every send within its attempts.
        if (report.wait_for(SETTLE_LIMIT) != std::future_status::ready) {
            ++series.failed;
            continue;
        }
        const qopartner::SendReport outcome = report.get();
        series.failed += outcome.outcome == qopartner::SendOutcome::acknowledged ? 0 : 1;
        series.repeated += outcome.attempts > 1 ? 1 : 0;
    }
    drain.stop();
    std::map<uint32_t, size_t> received;
    for (const uint32_t number : rig.take_partner_numbers()) {
        ++received[number];
    }
    for (const uint32_t number : stream.acknowledged()) {
        const size_t times = received.count(number) != 0 ? received[number] : 0;
        series.busy_lost += times == 0 ? 1 : 0;
        series.busy_duplicated += times > 1 ? times - 1 : 0;
    }
    return series;
}

}  // namespace qobench
