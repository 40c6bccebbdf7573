// SPDX-License-Identifier: MIT
#include "soak_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "block_encoder.h"
#include "partner.h"
#include "partner_send_log.h"
#include "qo3964_client.h"
#include "segment_view.h"
#include "server_harness.h"
#include "wait_until.h"

namespace qosoak {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using qopartner::Fault;

// Procedure times: short enough for many telegrams, and well above the
// scheduling delays of a loaded test machine. A delay longer than ZVZ
// inside a telegram makes the receiver give up on it; a DLE later than QVZ
// makes the sender repeat a telegram the receiver already has.
constexpr int ZVZ_MS = 200;
constexpr int QVZ_MS = 1000;
constexpr int ATTEMPTS = 3;  // TDS and TDR, and the partner's attempts

constexpr int SEND_HANDLE = 0;
constexpr int RECEIVE_HANDLE = 1;
constexpr int SEND_TIMEOUT_S = 60;
constexpr auto OUTCOME_LIMIT = 60s;  // for one telegram, whatever befalls it
constexpr auto POLL_PAUSE = 5ms;
constexpr auto FETCH_PAUSE = 2ms;

constexpr std::array<Fault, 4> CHEAP_FAULTS = {
    Fault::nak_to_stx, Fault::nak_to_end, Fault::corrupt_bcc, Fault::stray_byte,
};
constexpr std::array<Fault, 2> SILENCES = {Fault::silent_to_stx, Fault::silent_to_end};

// The partner writes a stray byte (when the fault fires) after this much
// quiet with nothing to send; the default of 2 x zvz is seldom reached
// between the two sides' telegrams.
constexpr int STRAY_QUIET_MS = 60;

std::string rc_lines(const std::string& port)
{
    const std::string attempts = std::to_string(ATTEMPTS);
    return "PORT " + port + "\nZVZ " + std::to_string(ZVZ_MS) + "\nQVZ " + std::to_string(QVZ_MS) + "\nTDS " +
           attempts + "\nTDR " + attempts + "\nBAUD 115200\n";
}

qopartner::PartnerSettings partner_settings(uint64_t seed)
{
    qopartner::PartnerSettings settings;
    settings.zvz_ms = ZVZ_MS;
    settings.qvz_ms = QVZ_MS;
    settings.send_attempts = ATTEMPTS;
    settings.seed = seed;
    settings.stray_quiet_ms = STRAY_QUIET_MS;
    return settings;
}

// The partner's last telegram of a run, sent with every fault off: once the
// application has it, everything before it has arrived too.
Bytes closing_telegram(uint64_t seed)
{
    const std::string text = "soak run " + std::to_string(seed) + " ends";
    return Bytes(text.begin(), text.end());
}

struct FeederSend {
    Bytes data;
    qopartner::SendReport report;
};

// Everything the threads of one run share.
struct Run {
    explicit Run(const SoakPlan& p)
        : plan(p), end(p.seconds > 0 ? Clock::now() + std::chrono::seconds(p.seconds) : Clock::time_point::max())
    {
    }

    bool time_up() const { return Clock::now() >= end; }

    const SoakPlan plan;
    const Clock::time_point end;
    qopartner::Partner* partner = nullptr;
    const SegmentView* view = nullptr;
    Bytes closing;
    std::string conflict_hex;

    std::mutex mutex;  // for problems, partner_received
    std::vector<std::string> problems;
    std::vector<Bytes> partner_received;

    // Each written by one thread only, read after it has been joined.
    std::vector<AppSend> sends;
    std::vector<FeederSend> feeder_sends;
    std::vector<AppEntry> entries;
    int slow_reader_pauses = 0;

    std::atomic<bool> closing_fetched{false};
    std::atomic<bool> stop_fetching{false};

    void problem(const std::string& text)
    {
        std::lock_guard lock(mutex);
        problems.push_back(text);
    }
};

// qo3964m_send_strt, then qo3964m_send_control until the send has ended.
int start_and_poll(const Bytes& telegram)
{
    const int started = qo3964m_send_strt(SEND_HANDLE, telegram.data(), static_cast<int>(telegram.size()),
                                          SEND_TIMEOUT_S);
    if (started != QO3964_SEND_STARTED) {
        return started;
    }
    const auto end = Clock::now() + OUTCOME_LIMIT;
    while (Clock::now() < end) {
        const int result = qo3964m_send_control(SEND_HANDLE);
        if (result != QO3964_IN_WORK) {
            return result;
        }
        std::this_thread::sleep_for(POLL_PAUSE);
    }
    return QO3964_ERR_TIMEOUT;
}

// The application's sending side: every other telegram with the waiting
// send, the others started and polled.
void send_all(Run& run)
{
    TelegramSource source(run.plan.seed * 4 + 1);
    for (int k = 0; k < run.plan.telegrams && !run.time_up(); ++k) {
        const Bytes telegram = source.next();
        int result = 0;
        if (k % 2 == 0) {
            result = qo3964m_send(SEND_HANDLE, telegram.data(), static_cast<int>(telegram.size()), SEND_TIMEOUT_S);
        } else {
            result = start_and_poll(telegram);
        }
        run.sends.push_back({telegram, result});
        if (result == QO3964_ERR_TIMEOUT || result == QO3964_ERR_SHUTDOWN) {
            run.problem("application -> partner: send " + std::to_string(k) + " got no result (" +
                        std::to_string(result) + "); sending stopped");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(source.below(30)));
    }
}

// The application's receiving side. Before each fetch it looks at what the
// server has put into receive_job, so that it knows the length and status
// the library's result stands for.
void fetch_all(Run& run)
{
    TelegramSource source(run.plan.seed * 4 + 2);
    Bytes buffer(QO3964_TELEGRAM_MAX);
    while (!run.stop_fetching) {
        const std::optional<WaitingEntry> waiting = run.view->waiting_entry();
        if (!waiting) {
            std::this_thread::sleep_for(FETCH_PAUSE);
            continue;
        }
        const int result = qo3964m_receive(RECEIVE_HANDLE, buffer.data(), static_cast<int>(buffer.size()));
        const int expected = waiting->result < 0 ? waiting->result : waiting->length;
        if (result != expected) {
            run.problem("qo3964m_receive returned " + std::to_string(result) + " for an entry of length " +
                        std::to_string(waiting->length) + " and status " + std::to_string(waiting->result));
        }
        if (waiting->length < 0 || waiting->length > QO3964_TELEGRAM_MAX) {
            run.problem("receive_job held the length " + std::to_string(waiting->length));
            continue;
        }
        AppEntry entry{waiting->length, waiting->result, Bytes(buffer.begin(), buffer.begin() + waiting->length)};
        if (entry.data == run.closing) {
            run.closing_fetched = true;
        }
        run.entries.push_back(std::move(entry));
        // Now and then the application is slow: the server's ring fills up
        // and the partner's telegrams are refused (-83).
        if (source.chance(run.plan.slow_reader_chance)) {
            ++run.slow_reader_pauses;
            std::this_thread::sleep_for(std::chrono::milliseconds(1500 + source.below(1000)));
        }
    }
}

// The partner's own telegrams, one at a time, with gaps that let the
// server's sends in; now and then a quiet spell, the partner's chance for
// a stray byte.
void feed_partner(Run& run)
{
    TelegramSource source(run.plan.seed * 4 + 3);
    for (int j = 0; j < run.plan.telegrams && !run.time_up(); ++j) {
        Bytes telegram = source.next();
        while (log_hex(telegram) == run.conflict_hex || telegram == run.closing) {
            telegram = source.next();
        }
        std::future<qopartner::SendReport> report = run.partner->send(telegram);
        if (report.wait_for(OUTCOME_LIMIT) != std::future_status::ready) {
            run.problem("partner -> application: the partner's telegram " + std::to_string(j) +
                        " got no outcome within 60 s; feeding stopped");
            return;
        }
        run.feeder_sends.push_back({telegram, report.get()});
        const int gap = source.chance(0.1) ? 250 + source.below(150) : source.below(50);
        std::this_thread::sleep_for(std::chrono::milliseconds(gap));
    }
}

// The partner's log must list the feeder's telegrams in order, with the
// outcomes the feeder was told, and only conflict telegrams besides.
void check_log_against_feeder(Run& run, const std::vector<PartnerSend>& logged)
{
    size_t next = 0;
    for (const PartnerSend& send : logged) {
        if (send.hex == run.conflict_hex) {
            continue;
        }
        if (next >= run.feeder_sends.size()) {
            run.problem("partner log: a telegram that was never fed: [" + send.hex.substr(0, 48) + "]");
            return;
        }
        const FeederSend& fed = run.feeder_sends[next];
        if (send.hex != log_hex(fed.data) || send.outcome != qopartner::outcome_name(fed.report.outcome) ||
            send.attempts != fed.report.attempts) {
            run.problem("partner log: entry for telegram " + std::to_string(next) + " does not match its report");
            return;
        }
        ++next;
    }
    if (next != run.feeder_sends.size()) {
        run.problem("partner log: " + std::to_string(run.feeder_sends.size() - next) + " fed telegrams missing");
    }
}

// Sends the closing telegram with every fault off and waits until the
// application has it.
void close_traffic(Run& run)
{
    run.partner->faults().clear();
    std::future<qopartner::SendReport> report = run.partner->send(run.closing);
    if (report.wait_for(OUTCOME_LIMIT) != std::future_status::ready) {
        run.problem("the closing telegram got no outcome within 60 s");
        return;
    }
    const qopartner::SendReport outcome = report.get();
    run.feeder_sends.push_back({run.closing, outcome});
    if (outcome.outcome != qopartner::SendOutcome::acknowledged) {
        run.problem("the closing telegram, sent without faults, ended " +
                    std::string(qopartner::outcome_name(outcome.outcome)));
        return;
    }
    if (!qotest::wait_until([&] { return run.closing_fetched.load(); }, OUTCOME_LIMIT)) {
        run.problem("the closing telegram did not reach the application within 60 s");
    }
}

void run_traffic(Run& run, qotest::ServerHarness& server)
{
    for (const Fault fault : CHEAP_FAULTS) {
        run.partner->faults().set_probability(fault, run.plan.fault_chance);
    }
    for (const Fault fault : SILENCES) {
        run.partner->faults().set_probability(fault, run.plan.silence_chance);
    }
    run.partner->faults().set_probability(Fault::pause, run.plan.pause_chance);
    run.partner->faults().set_probability(Fault::conflict, run.plan.conflict_chance);
    std::thread fetcher([&] { fetch_all(run); });
    std::thread sender([&] { send_all(run); });
    std::thread feeder([&] { feed_partner(run); });
    sender.join();
    feeder.join();
    close_traffic(run);
    run.stop_fetching = true;
    fetcher.join();
    run.partner->stop();
    if (!server.process().running()) {
        run.problem("the server ended during the run:\n" + server.process().out());
        return;
    }
    const int status = server.stop();
    if (status != 1) {
        run.problem("the server stopped with status " + std::to_string(status) + " instead of 1");
    }
}

}  // namespace

SoakResult run_soak(const SoakPlan& plan)
{
    const auto begun = Clock::now();
    SoakResult result;
    result.plan = plan;
    Run run(plan);

    qopartner::Partner partner(qopartner::PartnerLine::open_pty(), partner_settings(plan.seed));
    PartnerSendLog send_log;
    partner.set_log(&send_log.stream());
    // QO3964_SOAK_LOG=<file> keeps the partner's whole traffic log.
    std::ofstream full_log;
    if (const char* path = std::getenv("QO3964_SOAK_LOG"); path != nullptr && *path != '\0') {
        full_log.open(path);
        send_log.copy_to(&full_log);
    }
    partner.on_received([&run](const Bytes& telegram) {
        std::lock_guard lock(run.mutex);
        run.partner_received.push_back(telegram);
    });
    run.partner = &partner;
    run.closing = closing_telegram(plan.seed);
    run.conflict_hex = log_hex(partner.settings().conflict_telegram);

    qotest::ServerHarness server(rc_lines(partner.path()));
    if (!server.start()) {
        result.problems.push_back("the server did not come up:\n" + server.process().out() + server.process().err());
        return result;
    }
    partner.start();
    const std::string& rc = server.rc_file();
    const int opened_send = qo3964m_open_shm(SEND_HANDLE, rc.c_str());
    const int opened_receive = qo3964m_open_shm(RECEIVE_HANDLE, rc.c_str());
    SegmentView view(server.shm_file());
    if (opened_send != 0 || opened_receive != 0 || !view.attached()) {
        result.problems.push_back("cannot attach the server's segment");
        return result;
    }
    run.view = &view;

    run_traffic(run, server);
    qo3964m_close_shm(SEND_HANDLE);
    qo3964m_close_shm(RECEIVE_HANDLE);

    const std::vector<PartnerSend> logged = send_log.sends();
    check_log_against_feeder(run, logged);
    result.outbound = check_outbound(run.sends, run.partner_received);
    result.partner = partner.stats();
    result.inbound = check_inbound(logged, run.entries, run.conflict_hex, static_cast<int>(result.partner.conflicts));
    result.slow_reader_pauses = run.slow_reader_pauses;
    result.problems = run.problems;
    result.problems.insert(result.problems.end(), result.outbound.problems.begin(), result.outbound.problems.end());
    result.problems.insert(result.problems.end(), result.inbound.problems.begin(), result.inbound.problems.end());
    result.seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    return result;
}

}  // namespace qosoak
