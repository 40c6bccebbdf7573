// SPDX-License-Identifier: MIT
// Sending and receiving through a segment that the test made itself; the
// test plays the server's part on the job blocks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <sys/shm.h>
#include <thread>
#include <utility>
#include <vector>

#include "deadline_timer.h"
#include "fake_server_segment.h"
#include "segment_access.h"
#include "segment_wake.h"
#include "qo3964_client.h"
#include "test_support.h"
#include "wait_until.h"

using namespace qo3964;

namespace {

using qotest::Bytes;
using qotest::wait_until;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr int HANDLE = 2;
constexpr std::chrono::milliseconds WAIT_MS{10000};  // bound of every wait for the library

class JobExchange : public ::testing::Test {
protected:
    void SetUp() override
    {
        debug = 0;
        ASSERT_TRUE(server.ok());
        ASSERT_EQ(qo3964m_open_shm(HANDLE, server.rc_file().c_str()), 0);
    }
    void TearDown() override
    {
        if (player.joinable()) {
            player.join();
        }
        qo3964m_close_shm(HANDLE);
        debug = 0;
    }

    Bytes block_data(const volatile JobBlock& block, size_t count) const
    {
        Bytes bytes(count);
        for (size_t i = 0; i < count; ++i) {
            bytes[i] = block.data[i];
        }
        return bytes;
    }
    // Puts a telegram into receive_job as the server's dispatcher does.
    void deliver(const Bytes& telegram, int32_t status)
    {
        volatile JobBlock& job = server.receive_job();
        for (size_t i = 0; i < telegram.size(); ++i) {
            job.data[i] = telegram[i];
        }
        job.length = static_cast<int32_t>(telegram.size());
        job.result = status;
        job.state = JOB_DONE;
    }

    // True while, for 300 ms, `job` keeps this client_busy and state 0: a
    // send running meanwhile neither claims nor writes the block.
    static bool untouched_for_a_while(const volatile JobBlock& job, uint8_t client_busy)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        while (std::chrono::steady_clock::now() < end) {
            if (job.client_busy != client_busy || job.state != JOB_IDLE) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    qotest::TempDir dir;
    qotest::FakeServerSegment server{dir};
    std::thread player;
};

Bytes pattern(size_t count, uint8_t seed)
{
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 13);
    }
    return bytes;
}

// What the server-playing thread saw when the job was handed over.
struct HandOver {
    std::atomic<bool> seen{false};
    int client_busy = -1;
    int32_t result = -1;
    int32_t length = -1;
    Bytes data;
};

TEST_F(JobExchange, SendHandsOverStateLastAndCollectsTheAcknowledgement)
{
    volatile JobBlock& job = server.send_job();
    // Left-overs of an earlier job that the hand-over must replace.
    job.result = 77;
    job.length = 9999;
    for (int i = 0; i < 64; ++i) {
        job.data[i] = 0xEE;
    }
    const Bytes telegram = pattern(37, 1);
    HandOver seen;
    player = std::thread([&] {
        // As the server does: the client lowers its byte right after state 1.
        if (!wait_until([&] { return job.state == JOB_SUBMITTED && job.client_busy == 0; }, WAIT_MS)) {
            return;
        }
        seen.client_busy = job.client_busy;
        seen.result = job.result;
        seen.length = job.length;
        seen.data = block_data(job, telegram.size());
        seen.seen = true;
        job.result = 0;
        job.state = JOB_IN_WORK;
        job.result = 1;
        job.state = JOB_DONE;
    });
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), static_cast<int>(telegram.size()), 10), QO3964_SEND_DONE);
    player.join();
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.client_busy, 0);
    EXPECT_EQ(seen.result, 0);
    EXPECT_EQ(seen.length, 37);
    EXPECT_EQ(seen.data, telegram);
    // Collected: the block is free again.
    EXPECT_EQ(job.state, JOB_IDLE);
    EXPECT_EQ(job.result, 0);
    EXPECT_EQ(job.client_busy, 0);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_TASK_IDLE);
}

// The server wakes a waiting send when it hands the result back: the send
// returns at once, not at its next look (100 ms later). Most rounds must
// show it; a loaded machine may delay a few.
TEST_F(JobExchange, WaitingSendIsWokenByTheHandBack)
{
    constexpr int ROUNDS = 20;
    constexpr auto PROMPT = std::chrono::milliseconds(50);
    int prompt = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        std::atomic<int64_t> handed_back_ns{0};
        player = std::thread([&] {
            volatile JobBlock& job = server.send_job();
            if (!wait_until([&] { return load_acquire(job.state) == JOB_SUBMITTED; }, WAIT_MS)) {
                return;
            }
            store_field(job.result, int32_t{1});
            handed_back_ns = std::chrono::steady_clock::now().time_since_epoch().count();
            store_release(job.state, int32_t{JOB_DONE});
            wake_waiters(job.state);
        });
        const Bytes telegram{0x41};
        EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 1, 10), QO3964_SEND_DONE);
        const auto returned = std::chrono::steady_clock::now().time_since_epoch().count();
        player.join();
        prompt += std::chrono::nanoseconds(returned - handed_back_ns) < PROMPT ? 1 : 0;
    }
    EXPECT_GE(prompt, ROUNDS * 3 / 4);
}

TEST_F(JobExchange, SendWithoutTimeOutWaitsForTheServersFailureCode)
{
    volatile JobBlock& job = server.send_job();
    player = std::thread([&] {
        if (!wait_until([&] { return job.state == JOB_SUBMITTED; }, WAIT_MS)) {
            job.shutdown_mark = 1;  // ends the untimed send (-100), so the test fails instead of hanging
            return;
        }
        job.state = JOB_IN_WORK;
        // Longer than a few polls of the library.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        job.result = QO3964_ERR_NO_CONNECT;
        job.state = JOB_DONE;
    });
    const Bytes telegram = pattern(3, 9);
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 3, 0), QO3964_ERR_NO_CONNECT);
    EXPECT_EQ(job.state, JOB_IDLE);
    EXPECT_EQ(job.result, 0);
}

TEST_F(JobExchange, TelegramOf4096BytesIsHandedOverLongerOrNegativeIsRefused)
{
    volatile JobBlock& job = server.send_job();
    const Bytes longest = pattern(4096, 5);
    const Bytes before = server.snapshot();
    EXPECT_EQ(qo3964m_send(HANDLE, longest.data(), 4097, 1), QO3964_ERR_TOO_SMALL);
    EXPECT_EQ(qo3964m_send_strt(HANDLE, longest.data(), 4097, 0), QO3964_ERR_TOO_SMALL);
    EXPECT_EQ(qo3964m_send_strt(HANDLE, longest.data(), -1, 0), QO3964_ERR_TOO_SMALL);
    EXPECT_EQ(qo3964m_send(HANDLE, longest.data(), INT32_MIN, 0), QO3964_ERR_TOO_SMALL);
    EXPECT_EQ(qo3964m_send_strt(HANDLE, nullptr, 5, 0), QO3964_ERR_TOO_SMALL);
    EXPECT_EQ(server.snapshot(), before);

    EXPECT_EQ(qo3964m_send_strt(HANDLE, longest.data(), 4096, 5), QO3964_SEND_STARTED);
    EXPECT_EQ(job.state, JOB_SUBMITTED);
    EXPECT_EQ(job.length, 4096);
    EXPECT_EQ(block_data(job, 4096), longest);
}

TEST_F(JobExchange, EmptyTelegramIsHandedOverLikeAnyOther)
{
    volatile JobBlock& job = server.send_job();
    job.length = 12;
    EXPECT_EQ(qo3964m_send_strt(HANDLE, nullptr, 0, 0), QO3964_SEND_STARTED);
    EXPECT_EQ(job.state, JOB_SUBMITTED);
    EXPECT_EQ(job.length, 0);
}

TEST_F(JobExchange, SendWhileTheServerHoldsAJobGivesMinus26)
{
    volatile JobBlock& job = server.send_job();
    const Bytes telegram = pattern(10, 3);
    constexpr int timeout_s = 60;
    for (int32_t state : {JOB_SUBMITTED, JOB_IN_WORK}) {
        job.state = state;
        const Bytes before = server.snapshot();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 10, timeout_s), QO3964_ERR_JOB_RUNNING);
        EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 10, 0), QO3964_ERR_JOB_RUNNING);
        EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 10, 0), QO3964_ERR_JOB_RUNNING);
        // At once, not after the time-out.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(timeout_s / 4));
        EXPECT_EQ(server.snapshot(), before);
        // Another application's job: this handle has nothing outstanding.
        EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_TASK_IDLE);
    }
}

TEST_F(JobExchange, UncollectedResultIsDiscardedByTheNextHandOver)
{
    volatile JobBlock& job = server.send_job();
    job.result = QO3964_ERR_NO_ACK;
    job.state = JOB_DONE;
    const Bytes telegram = pattern(6, 40);
    EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 6, 0), QO3964_SEND_STARTED);
    EXPECT_EQ(job.state, JOB_SUBMITTED);
    EXPECT_EQ(job.result, 0);
    EXPECT_EQ(job.length, 6);
    EXPECT_EQ(block_data(job, 6), telegram);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_IN_WORK);
}

TEST_F(JobExchange, SendControlReportsIdleUnderWayDoneThenIdle)
{
    volatile JobBlock& job = server.send_job();
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_TASK_IDLE);
    const Bytes telegram = pattern(4, 2);
    EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 4, 10), QO3964_SEND_STARTED);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_IN_WORK);
    job.state = JOB_IN_WORK;
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_IN_WORK);
    job.result = 1;
    job.state = JOB_DONE;
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_SEND_DONE);
    EXPECT_EQ(job.state, JOB_IDLE);
    EXPECT_EQ(job.result, 0);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_TASK_IDLE);

    // A failed send is reported once with the server's code.
    EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 4, 10), QO3964_SEND_STARTED);
    job.result = QO3964_ERR_BREAK;
    job.state = JOB_DONE;
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_ERR_BREAK);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_TASK_IDLE);

    // A code wider than 16 bits is passed on whole.
    EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 4, 10), QO3964_SEND_STARTED);
    job.result = -70000;
    job.state = JOB_DONE;
    EXPECT_EQ(qo3964m_send_control(HANDLE), -70000);
}

// Only its owner collects a result: another handle gets 4 and leaves it
// alone; its hand-over discards the result once the owner has had time to
// collect it, and the owner then gets -99, not the other's result.
TEST_F(JobExchange, ResultIsCollectedOnlyByItsOwner)
{
    volatile JobBlock& job = server.send_job();
    const Bytes telegram = pattern(4, 2);
    ASSERT_EQ(qo3964m_open_shm(HANDLE + 1, server.rc_file().c_str()), 0);
    EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 4, 10), QO3964_SEND_STARTED);
    job.result = 1;
    job.state = JOB_DONE;
    const Bytes before = server.snapshot();
    EXPECT_EQ(qo3964m_send_control(HANDLE + 1), QO3964_TASK_IDLE);
    EXPECT_EQ(server.snapshot(), before);
    EXPECT_EQ(qo3964m_send_strt(HANDLE + 1, telegram.data(), 4, 10), QO3964_SEND_STARTED);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_ERR_TIMEOUT);
    EXPECT_EQ(qo3964m_send_control(HANDLE + 1), QO3964_IN_WORK);
    qo3964m_close_shm(HANDLE + 1);
}

TEST_F(JobExchange, SendWaitsWhileTheServerIsBusy)
{
    volatile JobBlock& job = server.send_job();
    job.server_busy = 1;
    std::atomic<int> result{-1000};
    const Bytes telegram = pattern(8, 8);
    player = std::thread([&] { result = qo3964m_send_strt(HANDLE, telegram.data(), 8, 10); });
    // While the server's byte is up the client neither claims nor writes.
    ASSERT_TRUE(untouched_for_a_while(job, 0));
    EXPECT_EQ(result, -1000);
    job.server_busy = 0;
    player.join();
    EXPECT_EQ(result, QO3964_SEND_STARTED);
    EXPECT_EQ(job.state, JOB_SUBMITTED);
    EXPECT_EQ(block_data(job, 8), telegram);
}

TEST_F(JobExchange, TimeOutBeforeTheHandOverGivesMinus99AndLeavesNoClaim)
{
    volatile JobBlock& job = server.send_job();
    job.server_busy = 1;
    const Bytes telegram = pattern(8, 8);
    constexpr int timeout_s = 1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 8, timeout_s), QO3964_ERR_TIMEOUT);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::seconds(8 * timeout_s));
    EXPECT_EQ(job.state, JOB_IDLE);
    EXPECT_EQ(job.client_busy, 0);
}

// Ticks that stand still for the first `still` reads, then jump far ahead.
int tick_reads = 0;
int still_reads = 0;
int32_t jumping_ticks()
{
    ++tick_reads;
    return tick_reads <= still_reads ? 5000 : 5000 + 1000000;
}

TEST_F(JobExchange, TimeOutBetweenClaimAndHandOverLowersTheClaimAtOnce)
{
    volatile JobBlock& job = server.send_job();
    job.length = 55;
    const Bytes telegram = pattern(8, 8);
    // Read 1 arms the time-out, read 2 is the first pass (which claims the
    // block); the second pass finds the time-out over.
    tick_reads = 0;
    still_reads = 2;
    tick_source = jumping_ticks;
    debug = 2;
    CaptureStdout();
    const int result = qo3964m_send(HANDLE, telegram.data(), 8, 1);
    const std::string trace = GetCapturedStdout();
    tick_source = times_ticks;
    EXPECT_EQ(result, QO3964_ERR_TIMEOUT);
    EXPECT_EQ(trace, "** Send_intern\n\nSchritt 0\n\n");
    EXPECT_EQ(job.client_busy, 0);
    EXPECT_EQ(job.state, JOB_IDLE);
    EXPECT_EQ(job.length, 55);
}

TEST_F(JobExchange, TimeOutAfterTheHandOverLeavesTheJobWithTheServer)
{
    volatile JobBlock& job = server.send_job();
    const Bytes telegram = pattern(8, 8);
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 8, 1), QO3964_ERR_TIMEOUT);
    EXPECT_EQ(job.state, JOB_SUBMITTED);
    EXPECT_EQ(job.client_busy, 0);
    EXPECT_EQ(block_data(job, 8), telegram);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_IN_WORK);
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 8, 1), QO3964_ERR_JOB_RUNNING);
    // The late result is collected by a poll.
    job.result = 1;
    job.state = JOB_DONE;
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_SEND_DONE);
}

TEST_F(JobExchange, OverlongTimeOutIsBoundedNotOverflowed)
{
    const Bytes telegram = pattern(8, 8);
    // Hours beyond what the tick arithmetic holds: the call must still be
    // timed (an overflowed deadline would lie in the past: -99 at once).
    EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 8, INT32_MAX), QO3964_SEND_STARTED);
    EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 8, 3000000), QO3964_ERR_JOB_RUNNING);
}

TEST_F(JobExchange, SendTracesEachStepAtLevelTwo)
{
    const Bytes telegram = pattern(2, 2);
    debug = 2;
    CaptureStdout();
    EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 2, 0), QO3964_SEND_STARTED);
    EXPECT_EQ(GetCapturedStdout(), "** Send_intern\n\nSchritt 0\n\nSchritt 1\n\nSchritt 2\n\n");
    debug = 1;
    server.send_job().state = JOB_IDLE;
    CaptureStdout();
    EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 2, 0), QO3964_SEND_STARTED);
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST_F(JobExchange, ShutdownMarksGiveMinus100FromEveryCall)
{
    server.mark_shutdown();
    const Bytes before = server.snapshot();
    Bytes buffer(4096);
    const Bytes telegram = pattern(8, 8);
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 8, 1), QO3964_ERR_SHUTDOWN);
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 8, 0), QO3964_ERR_SHUTDOWN);
    EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 8, 0), QO3964_ERR_SHUTDOWN);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_ERR_SHUTDOWN);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 4096), QO3964_ERR_SHUTDOWN);
    EXPECT_EQ(server.snapshot(), before);
    // The identification is still readable.
    qo3964_server_info info;
    EXPECT_EQ(qo3964m_svr_info(HANDLE, &info), 0);
}

TEST_F(JobExchange, EachBlockAnswersForItsOwnMark)
{
    server.receive_job().shutdown_mark = SHUTDOWN_MARK;
    Bytes buffer(16);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 16), QO3964_ERR_SHUTDOWN);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_TASK_IDLE);
    server.receive_job().shutdown_mark = 0;
    server.send_job().shutdown_mark = SHUTDOWN_MARK;
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 16), QO3964_IN_WORK);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_ERR_SHUTDOWN);
}

TEST_F(JobExchange, WaitingSendLearnsOfTheShutdown)
{
    volatile JobBlock& job = server.send_job();
    player = std::thread([&] {
        if (wait_until([&] { return job.state == JOB_SUBMITTED; }, WAIT_MS)) {
            job.state = JOB_IN_WORK;
            server.mark_shutdown();
        }
    });
    const Bytes telegram = pattern(8, 8);
    // The time-out only bounds the test; the mark must end the wait first.
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 8, 20), QO3964_ERR_SHUTDOWN);
}

TEST_F(JobExchange, ReceiveDeliversATelegramOnceAndFreesTheBlock)
{
    volatile JobBlock& job = server.receive_job();
    Bytes buffer(4096, 0);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 4096), QO3964_IN_WORK);
    const Bytes telegram = pattern(6, 65);
    deliver(telegram, 1);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 6), 6);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6), telegram);
    EXPECT_EQ(job.length, 0);
    EXPECT_EQ(job.result, 0);
    EXPECT_EQ(job.state, JOB_IDLE);
    EXPECT_EQ(job.client_busy, 0);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 4096), QO3964_IN_WORK);
}

TEST_F(JobExchange, ReceiveOf4096Bytes)
{
    const Bytes telegram = pattern(4096, 7);
    deliver(telegram, 1);
    Bytes buffer(4096, 0);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 4096), 4096);
    EXPECT_EQ(buffer, telegram);
}

TEST_F(JobExchange, TooSmallOrNullBufferLeavesTheTelegramWaiting)
{
    const Bytes telegram = pattern(6, 65);
    deliver(telegram, 1);
    const Bytes before = server.snapshot();
    Bytes buffer(16, 0);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 5), QO3964_ERR_TOO_SMALL);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), -1), QO3964_ERR_TOO_SMALL);
    EXPECT_EQ(qo3964m_receive(HANDLE, nullptr, 16), QO3964_ERR_TOO_SMALL);
    EXPECT_EQ(server.snapshot(), before);
    EXPECT_EQ(buffer, Bytes(16, 0));
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 16), 6);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6), telegram);
}

TEST_F(JobExchange, EmptyGoodTelegramGivesZeroAndEmptiesTheBlock)
{
    volatile JobBlock& job = server.receive_job();
    deliver({}, 1);
    Bytes buffer(16, 0);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 16), 0);
    EXPECT_EQ(job.state, JOB_IDLE);
    EXPECT_EQ(job.result, 0);
    // Nothing to copy, so no buffer is needed for it.
    deliver({}, 1);
    EXPECT_EQ(qo3964m_receive(HANDLE, nullptr, 0), 0);
    EXPECT_EQ(job.state, JOB_IDLE);
}

TEST_F(JobExchange, ReceiveErrorIsPassedOnWithAnyDataThatCameWithIt)
{
    volatile JobBlock& job = server.receive_job();
    Bytes buffer(16, 0);
    deliver({}, QO3964_ERR_RX_BCC);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 16), QO3964_ERR_RX_BCC);
    EXPECT_EQ(job.state, JOB_IDLE);
    EXPECT_EQ(job.result, 0);

    const Bytes telegram = pattern(3, 1);
    deliver(telegram, QO3964_ERR_RX_OCCUPIED);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 16), QO3964_ERR_RX_OCCUPIED);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 3), telegram);
    EXPECT_EQ(job.length, 0);
    EXPECT_EQ(job.state, JOB_IDLE);
}

TEST_F(JobExchange, NothingIsTakenWhileTheServerFillsTheBlock)
{
    volatile JobBlock& job = server.receive_job();
    deliver(pattern(4, 4), 1);
    job.server_busy = 1;
    const Bytes before = server.snapshot();
    Bytes buffer(16, 0);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 16), QO3964_IN_WORK);
    EXPECT_EQ(server.snapshot(), before);
    job.server_busy = 0;
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 16), 4);
}

// Lengths and results that the server never writes: the block is freed
// and -11 reported once, so that reception goes on; a wrong length in a
// free block is no telegram and no reason for -11.
TEST_F(JobExchange, ImpossibleEntryIsFreedAndReportedOnce)
{
    volatile JobBlock& job = server.receive_job();
    Bytes buffer(4096, 0);
    for (const auto& [length, status] : {std::pair{-1, 1}, {4097, 1}, {INT32_MAX, 1}, {3, 5}}) {
        job.length = length;
        job.result = status;
        job.state = JOB_DONE;
        EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 4096), QO3964_ERR_TOO_SMALL) << length << " " << status;
        EXPECT_EQ(job.state, JOB_IDLE);
        EXPECT_EQ(job.length, 0);
        EXPECT_EQ(job.result, 0);
        EXPECT_EQ(job.client_busy, 0);
        EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 4096), QO3964_IN_WORK);
    }
    job.length = 4097;
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 4096), QO3964_IN_WORK);
    deliver(pattern(5, 5), 1);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 4096), 5);
}

// A segment removed without shutdown marks (its server is gone) ends every
// wait with -100.
TEST_F(JobExchange, SegmentRemovedWithoutMarksGivesMinus100)
{
    ASSERT_EQ(shmctl(server.id(), IPC_RMID, nullptr), 0);
    Bytes buffer(16);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 16), QO3964_ERR_SHUTDOWN);
    const Bytes telegram = pattern(8, 8);
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 8, 0), QO3964_ERR_SHUTDOWN);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_ERR_SHUTDOWN);
}

TEST_F(JobExchange, ClosedHandleGivesMinus98AndLeavesTheJobsWithTheServer)
{
    const Bytes telegram = pattern(8, 8);
    EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 8, 0), QO3964_SEND_STARTED);
    deliver(pattern(2, 2), 1);
    const Bytes before = server.snapshot();
    EXPECT_EQ(qo3964m_close_shm(HANDLE), 0);
    EXPECT_EQ(server.snapshot(), before);
    Bytes buffer(16);
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 8, 1), QO3964_ERR_NOT_ATTACHED);
    EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 8, 1), QO3964_ERR_NOT_ATTACHED);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_ERR_NOT_ATTACHED);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 16), QO3964_ERR_NOT_ATTACHED);
    EXPECT_EQ(qo3964m_close_shm(HANDLE), 0);
    // Opened again, the handle finds both jobs where they were.
    ASSERT_EQ(qo3964m_open_shm(HANDLE, server.rc_file().c_str()), 0);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_IN_WORK);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer.data(), 16), 2);
}

}  // namespace
