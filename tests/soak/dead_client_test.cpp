// SPDX-License-Identifier: MIT
// A client process killed by SIGKILL while it holds its claim of a job
// block. The server keeps running and passes over the dead claim; the next
// send or fetch takes it over at once, its holder having ended.
#include <chrono>
#include <gtest/gtest.h>

#include "dead_client.h"
#include "link_fixture.h"
#include "qo3964_client.h"

namespace qosoak {
namespace {

using namespace std::chrono_literals;

class DeadClient : public LinkFixture {
protected:
    volatile JobBlock& send_job() { return view->segment().send_job; }
    volatile JobBlock& receive_job() { return view->segment().receive_job; }

    // A telegram of the partner, acknowledged and waiting in receive_job.
    void telegram_waits(const Bytes& telegram)
    {
        ASSERT_TRUE(partner_sends(telegram));
        ASSERT_TRUE(wait_until([&] { return view->waiting_entry().has_value(); }));
    }

    int send(const Bytes& telegram, int timeout_s = 10)
    {
        return qo3964m_send(APP_HANDLE, telegram.data(), static_cast<int>(telegram.size()), timeout_s);
    }
};

TEST_F(DeadClient, ClaimOfASendIsLoweredByTheNextSend)
{
    bring_up();
    // Killed in the claim of a send: client_busy raised, nothing written yet.
    ASSERT_TRUE(die_after([&] { send_job().client_busy = 1; }));
    EXPECT_EQ(send_job().client_busy, 1);

    // The server goes on: the other direction works meanwhile, and nothing
    // on the server's side touches the dead client's byte.
    const Bytes incoming = {'i', 'n', 0x10};
    ASSERT_TRUE(partner_sends(incoming));
    EXPECT_TRUE(fetch_telegram(incoming, 5000));
    EXPECT_TRUE(server->process().running());
    EXPECT_EQ(send_job().client_busy, 1);
    EXPECT_EQ(send_job().state, JOB_IDLE);

    // The next send takes the dead claim over, lowers the byte with its
    // hand-over, and its telegram goes out.
    const Bytes outgoing = {'o', 'u', 't', 0xFF};
    EXPECT_EQ(send(outgoing), QO3964_SEND_DONE);
    EXPECT_EQ(partner->wait_received(5s), outgoing);
    EXPECT_EQ(send_job().client_busy, 0);
    EXPECT_EQ(send_job().state, JOB_IDLE);
}

TEST_F(DeadClient, ClaimOverAnUncollectedResultIsLoweredByTheNextSend)
{
    bring_up();
    const Bytes first = {'f', 'i', 'r', 's', 't'};
    ASSERT_EQ(qo3964m_send_strt(APP_HANDLE, first.data(), static_cast<int>(first.size()), 10), QO3964_SEND_STARTED);
    ASSERT_TRUE(wait_until([&] { return send_job().state == JOB_DONE; }));
    // Killed in the claim of the next send, with the result still there.
    ASSERT_TRUE(die_after([&] { send_job().client_busy = 1; }));

    // That result is discarded by the next send, which goes through.
    const Bytes second = {'s', 'e', 'c', 'o', 'n', 'd'};
    EXPECT_EQ(send(second), QO3964_SEND_DONE);
    EXPECT_EQ(partner->wait_received(5s), first);
    EXPECT_EQ(partner->wait_received(5s), second);
    EXPECT_EQ(send_job().client_busy, 0);
    EXPECT_EQ(qo3964m_send_control(APP_HANDLE), QO3964_TASK_IDLE);
}

TEST_F(DeadClient, FetchKilledBeforeFreeingTheBlockIsFinishedByTheNextFetch)
{
    bring_up();
    const Bytes first = {'f', 'i', 'r', 's', 't'};
    const Bytes second = {'s', 'e', 'c', 'o', 'n', 'd'};
    telegram_waits(first);
    // Killed while copying the telegram out: client_busy up, block still full.
    ASSERT_TRUE(die_after([&] { receive_job().client_busy = 1; }));

    // Further telegrams are acknowledged and wait in the server's ring.
    ASSERT_TRUE(partner_sends(second));
    EXPECT_TRUE(server->process().running());

    // The next fetch takes the telegram the dead client did not finish,
    // lowers the byte, and the next one follows.
    const std::optional<AppEntry> entry = fetch(1000);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->data, first);
    EXPECT_EQ(receive_job().client_busy, 0);
    EXPECT_TRUE(fetch_telegram(second, 5000));
}

// A fetch killed after it freed receive_job (state 0 written) and before it
// lowered client_busy: the dispatcher fills the block past the byte of the
// ended holder, and the next fetch takes the claim over with the telegram.
TEST_F(DeadClient, FetchKilledAfterFreeingTheBlockDoesNotStopReception)
{
    bring_up();
    const Bytes first = {'f', 'i', 'r', 's', 't'};
    const Bytes second = {'s', 'e', 'c', 'o', 'n', 'd'};
    telegram_waits(first);
    // The dead client got `first`: it copied it and freed the block, in the
    // library's order, and died before lowering its busy byte.
    ASSERT_TRUE(die_after([&] {
        receive_job().client_busy = 1;
        receive_job().length = 0;
        receive_job().result = 0;
        receive_job().state = JOB_IDLE;
    }));

    ASSERT_TRUE(partner_sends(second));
    EXPECT_TRUE(fetch_telegram(second, 5000));
    EXPECT_EQ(receive_job().client_busy, 0);
}

// A client killed in a claim while a send is in work (its claim found the
// block at 2, or another application's hand-over came between): no client
// writes the block at 2, so the server hands the result back all the same,
// and the next send takes the dead claim over.
TEST_F(DeadClient, ClaimDuringASendInWorkDoesNotStopSending)
{
    bring_up();
    partner->faults().arm(qopartner::Fault::silent_to_end, 1);  // keeps the send in work for a QVZ
    const Bytes first = {'f', 'i', 'r', 's', 't'};
    ASSERT_EQ(qo3964m_send_strt(APP_HANDLE, first.data(), static_cast<int>(first.size()), 10), QO3964_SEND_STARTED);
    ASSERT_TRUE(wait_until([&] { return send_job().state == JOB_IN_WORK; }));
    ASSERT_TRUE(die_after([&] { send_job().client_busy = 1; }));
    EXPECT_EQ(partner->wait_received(5s), first);

    int result = QO3964_IN_WORK;
    wait_until([&] { return (result = qo3964m_send_control(APP_HANDLE)) != QO3964_IN_WORK; });
    EXPECT_EQ(result, QO3964_SEND_DONE);
    const Bytes second = {'s', 'e', 'c', 'o', 'n', 'd'};
    EXPECT_EQ(send(second), QO3964_SEND_DONE);
}

}  // namespace
}  // namespace qosoak
