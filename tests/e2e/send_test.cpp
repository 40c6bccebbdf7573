// SPDX-License-Identifier: MIT
// Sending from the application to the partner device through a real server.
#include <chrono>

#include "e2e_fixture.h"

namespace e2etest {
namespace {

using qopartner::Fault;
using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class SendTest : public LinkedTest {};

TEST_F(SendTest, TelegramsOfEveryLengthArriveExactly)
{
    connect();
    for (const size_t length : {0u, 1u, 16u, 4096u}) {
        SCOPED_TRACE("length " + std::to_string(length));
        const Bytes telegram = awkward_telegram(length);
        EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), static_cast<int>(length), SEND_TIMEOUT_S), QO3964_SEND_DONE);
        EXPECT_EQ(partner_received(), qotest::hex(telegram));
    }
    EXPECT_EQ(partner_received(200ms), "none");
    EXPECT_EQ(partner().stats().received, 4u);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_TASK_IDLE);
}

TEST_F(SendTest, SilentPartnerGivesNoConnectionAfterAllAttempts)
{
    connect(SHORT_TIMES);
    partner().faults().set_probability(Fault::silent_to_stx, 1.0);
    const Bytes telegram = awkward_telegram(16);
    const auto start = Clock::now();
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 16, SEND_TIMEOUT_S), QO3964_ERR_NO_CONNECT);
    // Two attempts (TDS 2), each waiting QVZ (500 ms) for the DLE.
    EXPECT_GE(ms_since(start), 900);
    // The partner may read the second STX only after the server gave up.
    EXPECT_TRUE(wait_until([&] { return partner().stats().injected(Fault::silent_to_stx) == 2; }, LINE_BOUND));
    EXPECT_EQ(partner().stats().injected(Fault::silent_to_stx), 2u);
    EXPECT_EQ(partner().stats().received, 0u);
}

TEST_F(SendTest, RefusedClosingBlockGivesNoAcknowledgement)
{
    connect();
    partner().faults().set_probability(Fault::nak_to_end, 1.0);
    const Bytes telegram = awkward_telegram(16);
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 16, SEND_TIMEOUT_S), QO3964_ERR_NO_ACK);
    EXPECT_EQ(partner().stats().injected(Fault::nak_to_end), 2u);
    EXPECT_EQ(partner_received(200ms), "none");

    partner().faults().clear();
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 16, SEND_TIMEOUT_S), QO3964_SEND_DONE);
    EXPECT_EQ(partner_received(), qotest::hex(telegram));
}

TEST_F(SendTest, StartedSendIsPolledToItsResult)
{
    connect();
    const Bytes telegram = awkward_telegram(100);
    ASSERT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 100, SEND_TIMEOUT_S), QO3964_SEND_STARTED);
    // The server needs several passes of its loop before the line is even
    // asked for, so the send is still under way here.
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_IN_WORK);
    EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 100, SEND_TIMEOUT_S), QO3964_ERR_JOB_RUNNING);
    EXPECT_EQ(send_result_within(HANDLE, LINE_BOUND), QO3964_SEND_DONE);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_TASK_IDLE);
    EXPECT_EQ(partner_received(), qotest::hex(telegram));
    EXPECT_EQ(partner_received(200ms), "none");
}

TEST_F(SendTest, TimeOutWhileTheServerIsBusyLeavesTheResultForLater)
{
    // Three attempts of a second each: the send outlasts the client's
    // time-out of one second by far.
    connect("ZVZ 100\nQVZ 1000\nTDS 3\nTDR 2\n");
    partner().faults().set_probability(Fault::silent_to_stx, 1.0);
    const Bytes telegram = awkward_telegram(16);
    const auto start = Clock::now();
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 16, 1), QO3964_ERR_TIMEOUT);
    EXPECT_GE(ms_since(start), 900);

    // The client gave up before the server: the job is still under way
    // there, and stays with the server until its result is collected.
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 16, 1), QO3964_ERR_JOB_RUNNING);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_IN_WORK);
    EXPECT_EQ(send_result_within(HANDLE, LINE_BOUND), QO3964_ERR_NO_CONNECT);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_TASK_IDLE);
    EXPECT_TRUE(wait_until([&] { return partner().stats().injected(Fault::silent_to_stx) == 3; }, LINE_BOUND));
    EXPECT_EQ(partner().stats().injected(Fault::silent_to_stx), 3u);
}

}  // namespace
}  // namespace e2etest
