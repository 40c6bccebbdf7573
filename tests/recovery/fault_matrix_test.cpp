// SPDX-License-Identifier: MIT
// The fault-recovery matrix: each row injects one fault against a running
// server and its partner, and then a normal telegram must go through both
// ways within the row's bound, without a restart. The table of faults and
// recovery times is printed at the end.
//
// A row is one small function; add a fault by writing its function and
// one line in `rows`. (BREAK and parity errors cannot be injected through
// a pseudo-terminal; the engine tests cover them on a socket line. A
// stopped or killed server, two applications sending at once and every
// wrong value in the segment have tests of their own among the soak tests.)
#include <chrono>
#include <cstdio>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "dead_client.h"
#include "link_fixture.h"
#include "qo3964_client.h"
#include "telegram_source.h"

namespace qosoak {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class FaultMatrix : public LinkFixture {
public:
    // What the rows use.
    using LinkFixture::drop_partner;
    using LinkFixture::fetch;
    using LinkFixture::fetch_telegram;
    using LinkFixture::new_partner;
    using LinkFixture::partner;
    using LinkFixture::partner_sends;
    using LinkFixture::view;

    // The moment the fault has been injected; recovery is timed from here.
    void fault_injected() { injected_ = Clock::now(); }
    Clock::time_point injected() const { return injected_; }

    // Waits until the server shows its line in `state`.
    bool line_becomes(uint8_t state)
    {
        return wait_until([&] { return view->segment().send_job.spare_flag == state; }, 10s);
    }

    // Runs the test body's rows on fresh servers: TearDown and bring_up.
    void fresh_link()
    {
        TearDown();
        bring_up(link_partner_settings(), false);
    }

private:
    Clock::time_point injected_{};
};

// The partner's line vanishes while the application's send waits for the
// acknowledgement: the send fails (-67) without further attempts, and a
// new partner on the same path is served.
void line_lost_during_a_send(FaultMatrix& m)
{
    m.partner->faults().arm(qopartner::Fault::silent_to_end, 1);
    m.partner->start();
    const Bytes telegram = TelegramSource(5).of_length(4096);
    ASSERT_EQ(qo3964m_send_strt(APP_HANDLE, telegram.data(), static_cast<int>(telegram.size()), 0),
              QO3964_SEND_STARTED);
    EXPECT_TRUE(wait_until([&] { return m.partner->stats().injected(qopartner::Fault::silent_to_end) > 0; }, 10s));
    m.drop_partner();
    m.fault_injected();
    int result = 0;
    wait_until([&] { return (result = qo3964m_send_control(APP_HANDLE)) != QO3964_IN_WORK; }, 10s);
    EXPECT_EQ(result, QO3964_ERR_NO_ACK);
    m.new_partner();
    EXPECT_TRUE(m.line_becomes(LINE_STATE_UP));
}

// The port goes away while the line is idle and comes back.
void port_lost_while_idle(FaultMatrix& m)
{
    m.drop_partner();
    m.fault_injected();
    EXPECT_TRUE(m.line_becomes(LINE_STATE_DOWN));
    m.new_partner();
    EXPECT_TRUE(m.line_becomes(LINE_STATE_UP));
}

// Two seconds' worth of noise without STX or DLE at 9600 bit/s.
void noise_burst(FaultMatrix& m)
{
    Bytes noise(2000);
    for (size_t i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<uint8_t>(0x20 + (i * 37) % 0x60);
    }
    for (size_t at = 0; at < noise.size(); at += 10) {
        ASSERT_TRUE(m.partner->line().write(Bytes(noise.begin() + at, noise.begin() + at + 10), 2000));
        std::this_thread::sleep_for(10ms);
    }
    m.fault_injected();
}

// The partner breaks off a long telegram (a pause beyond ZVZ), so its
// rest reaches a server that has given up on it; the partner repeats it.
void telegram_cut_short(FaultMatrix& m)
{
    m.partner->start();
    m.partner->faults().arm(qopartner::Fault::pause, 1);
    const Bytes cut = TelegramSource(21).of_length(1500);
    std::future<qopartner::SendReport> report = m.partner->send(cut);
    m.fault_injected();
    ASSERT_EQ(report.wait_for(15s), std::future_status::ready);
    EXPECT_EQ(report.get().outcome, qopartner::SendOutcome::acknowledged);
    std::vector<AppEntry> before;
    EXPECT_TRUE(m.fetch_telegram(cut, 5000, &before));
    EXPECT_TRUE(before.empty()) << "the cut attempt was recovered: nothing to report";
}

// A telegram with a wrong BCC, repeated correctly by the partner: the
// application gets it with its length, and no error.
void bcc_error_recovered(FaultMatrix& m)
{
    m.partner->start();
    m.partner->faults().arm(qopartner::Fault::corrupt_bcc, 1);
    const Bytes telegram = {0x01, 0x02, 0x03};
    m.fault_injected();
    ASSERT_TRUE(m.partner_sends(telegram));
    const std::optional<AppEntry> entry = m.fetch(5000);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->length, 3);
    EXPECT_EQ(entry->status, 1);
    EXPECT_EQ(entry->data, telegram);
}

// An application killed while it holds client_busy of send_job and a send
// is in work: the send is handed back all the same, and the next send
// takes the dead claim over.
void client_killed_holding_the_send_block(FaultMatrix& m)
{
    m.partner->faults().arm(qopartner::Fault::silent_to_end, 1);  // keeps the send in work for a QVZ
    m.partner->start();
    const Bytes telegram = {'k', 'i', 'l', 'l'};
    ASSERT_EQ(qo3964m_send_strt(APP_HANDLE, telegram.data(), static_cast<int>(telegram.size()), 10),
              QO3964_SEND_STARTED);
    volatile JobBlock& job = m.view->segment().send_job;
    ASSERT_TRUE(wait_until([&] { return job.state == JOB_IN_WORK; }, 10s));
    ASSERT_TRUE(die_after([&] { job.client_busy = 1; }));
    m.fault_injected();
    int result = QO3964_IN_WORK;
    wait_until([&] { return (result = qo3964m_send_control(APP_HANDLE)) != QO3964_IN_WORK; }, 10s);
    EXPECT_EQ(result, QO3964_SEND_DONE);
}

// A faulty application writes what only the server may write: the server
// puts it back on its next pass (every such value is in the segment tests).
void server_busy_written_by_an_application(FaultMatrix& m)
{
    m.partner->start();
    m.view->segment().send_job.server_busy = 1;
    m.fault_injected();
}

struct FaultRow {
    const char* fault;
    int bound_ms;  // fault injected to a telegram through both ways
    void (*inject)(FaultMatrix&);
};

const std::vector<FaultRow> rows = {
    {"line lost during a send", 10000, line_lost_during_a_send},
    {"port lost while idle", 10000, port_lost_while_idle},
    {"noise burst without STX", 5000, noise_burst},
    {"telegram cut short by a pause", 10000, telegram_cut_short},
    {"BCC error, repetition good", 5000, bcc_error_recovered},
    {"client killed holding send_job", 10000, client_killed_holding_the_send_block},
    {"server_busy written by a client", 5000, server_busy_written_by_an_application},
};

TEST_F(FaultMatrix, EveryFaultHeals)
{
    std::string table = "fault                               recovered in   bound\n";
    for (const FaultRow& row : rows) {
        SCOPED_TRACE(row.fault);
        fresh_link();
        row.inject(*this);
        if (!partner->running()) {
            partner->start();
        }
        const bool through = both_ways(row.bound_ms * 2);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - injected());
        EXPECT_TRUE(through);
        EXPECT_LE(took.count(), row.bound_ms);
        char line[160];
        std::snprintf(line, sizeof line, "%-35s %8lld ms %6d ms%s\n", row.fault, static_cast<long long>(took.count()),
                      row.bound_ms, through && took.count() <= row.bound_ms ? "" : "  FAILED");
        table += line;
    }
    std::printf("\n%s\n", table.c_str());
}

}  // namespace
}  // namespace qosoak
