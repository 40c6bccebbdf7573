// Sending: connection request, DLE doubling, closing block, repetitions.
#include <chrono>

#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "link_transfer.h"
#include "protocol_engine.h"
#include "result_codes.h"
#include "telegram_buffers.h"

namespace {

using namespace qotest;
using Clock = std::chrono::steady_clock;

int64_t ms_since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class SendingTest : public EngineLineTest {};

TEST_F(SendingTest, DataWaitsForDleAndDoublesDleButNotTheBcc)
{
    open_line({});
    start_engine();
    stage_send_now({0x01, 0x10, 0x02});

    EXPECT_EQ(hex(line(1)), "02");
    EXPECT_TRUE(line_quiet(200)) << "data must wait for the partner's DLE";
    feed({0x10});
    EXPECT_EQ(hex(line(7)), "01 10 10 02 10 03 10");
    feed({0x10});
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(runner().query([] { return link_transfer.send_pending; }), 0);
    EXPECT_TRUE(line_quiet(200));
}

TEST_F(SendingTest, Mode3964LeavesTheBccOut)
{
    open_line({.bcc_mode = 0});
    start_engine();
    stage_send_now({0x01, 0x10, 0x02});
    EXPECT_EQ(hex(line(1)), "02");
    feed({0x10});
    EXPECT_EQ(hex(line(6)), "01 10 10 02 10 03");
    feed({0x10});
    EXPECT_EQ(send_result(), RC_OK);
}

class EmptyTelegramTest : public EngineLineTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(EmptyTelegramTest, IsTheClosingBlockAlone)
{
    open_line({.bcc_mode = GetParam()});
    start_engine();
    stage_send_now({});
    EXPECT_EQ(hex(line(1)), "02");
    feed({0x10});
    const Bytes expected = GetParam() != 0 ? Bytes{0x10, 0x03, 0x13} : Bytes{0x10, 0x03};
    EXPECT_EQ(hex(line(expected.size())), hex(expected));
    EXPECT_TRUE(line_quiet(200));
    feed({0x10});
    EXPECT_EQ(send_result(), RC_OK);
}

INSTANTIATE_TEST_SUITE_P(BothModes, EmptyTelegramTest, ::testing::Values(1, 0));

TEST_F(SendingTest, LongTelegramGoesOutInChunksOfAtMostAThousandBytes)
{
    open_line({});
    start_engine();
    const Bytes data = pattern(2500);
    const Bytes expected = framed(data);
    stage_send_now(data);
    EXPECT_EQ(hex(line(1)), "02");
    feed({0x10});
    EXPECT_EQ(hex(line(expected.size(), 10000)), hex(expected));
    feed({0x10});
    EXPECT_EQ(send_result(), RC_OK);
    runner().stop();

    int data_steps = 0;
    int32_t total = 0;
    for (const StepRecord& step : runner().trace()) {
        const bool wrote = step.state_after == ENGINE_TX_DATA || step.state_after == ENGINE_TX_ACK;
        if (!wrote || (step.state_before != ENGINE_TX_DATA && step.state_before != ENGINE_TX_CONNECT)) {
            continue;
        }
        const int32_t from = step.state_before == ENGINE_TX_DATA ? step.tx_pos_before : 0;
        const int32_t bytes = step.tx_pos_after - from;
        EXPECT_LE(bytes, 1000);
        data_steps += bytes > 0 ? 1 : 0;
        total += bytes;
    }
    EXPECT_EQ(total, 2500);
    EXPECT_GE(data_steps, 3);
}

TEST_F(SendingTest, NakToTheClosingBlockRepeatsFromStxUntilTdsAttempts)
{
    open_line({.tds = 3});
    start_engine();
    stage_send_now({0x41});
    for (int attempt = 1; attempt <= 3; ++attempt) {
        SCOPED_TRACE(attempt);
        ASSERT_EQ(hex(line(1)), "02");
        feed({0x10});
        ASSERT_EQ(hex(line(4)), hex(framed({0x41})));
        feed({0x15});
        if (attempt < 3) {
            // Counted, but the send goes on.
            ASSERT_TRUE(runner().wait_until(
                [attempt] { return link_transfer.send_attempts == attempt; }, 5000));
            EXPECT_EQ(runner().query([] { return snd_set.state; }), SLOT_TAKEN);
        }
    }
    EXPECT_EQ(hex(line(1)), "15");
    EXPECT_EQ(send_result(), RC_NO_ACK);
    EXPECT_EQ(runner().query([] { return link_transfer.send_attempts; }), 0);
    EXPECT_TRUE(line_quiet(300));
}

TEST_F(SendingTest, UnansweredStxIsRepeatedAfterQvzThenRefusedWithNak)
{
    constexpr int32_t qvz = 400;
    open_line({.tds = 3, .qvz = qvz});
    start_engine();
    stage_send_now({0x41});
    ASSERT_EQ(hex(line(1)), "02");
    Clock::time_point last = Clock::now();
    for (int repeat = 2; repeat <= 3; ++repeat) {
        ASSERT_EQ(hex(line(1)), "02");
        // qvz, less a margin for the test's own reading.
        EXPECT_GE(ms_since(last), qvz - 150);
        last = Clock::now();
    }
    EXPECT_EQ(hex(line(1)), "15");
    EXPECT_GE(ms_since(last), qvz - 150);
    EXPECT_EQ(send_result(), RC_NO_CONNECT);
    EXPECT_TRUE(line_quiet(300));
}

TEST_F(SendingTest, WrongAnswerToStxFailsTheAttemptAtOnce)
{
    open_line({.tds = 2, .qvz = 3000});
    start_engine();
    stage_send_now({0x41});
    ASSERT_EQ(hex(line(1)), "02");
    const Clock::time_point start = Clock::now();
    feed({0x15});
    ASSERT_EQ(hex(line(1)), "02");
    EXPECT_LT(ms_since(start), 2000) << "a wrong answer must not wait for qvz";
    feed({0x41});
    EXPECT_EQ(hex(line(1)), "15");
    EXPECT_EQ(send_result(), RC_NO_CONNECT);
}

TEST_F(SendingTest, AttemptsCountAcrossBothKindsOfFailure)
{
    open_line({.tds = 3, .qvz = 500});
    start_engine();
    stage_send_now({0x41});
    ASSERT_EQ(hex(line(1)), "02");  // 1: not answered
    ASSERT_EQ(hex(line(1)), "02");  // 2: answered, closing block refused
    feed({0x10});
    ASSERT_EQ(hex(line(4)), hex(framed({0x41})));
    feed({0x15});
    ASSERT_EQ(hex(line(1)), "02");  // 3: not answered, the last one
    EXPECT_EQ(hex(line(1)), "15");
    EXPECT_EQ(send_result(), RC_NO_CONNECT);
}

TEST_F(SendingTest, MissingAcknowledgementOnTheLastAttemptGivesNoAck)
{
    open_line({.tds = 1, .qvz = 500});
    start_engine();
    stage_send_now({0x10});
    ASSERT_EQ(hex(line(1)), "02");
    feed({0x10});
    ASSERT_EQ(hex(line(5)), hex(framed({0x10})));
    EXPECT_EQ(hex(line(1)), "15");
    EXPECT_EQ(send_result(), RC_NO_ACK);
}

TEST_F(SendingTest, NextSendStartsWithFreshAttempts)
{
    open_line({.tds = 2, .qvz = 500});
    start_engine();
    stage_send_now({0x41});
    ASSERT_EQ(hex(line(1)), "02");
    ASSERT_EQ(hex(line(1)), "02");
    ASSERT_EQ(hex(line(1)), "15");
    ASSERT_EQ(send_result(), RC_NO_CONNECT);

    ASSERT_TRUE(runner().between_steps([] { snd_set.state = SLOT_FREE; }));
    stage_send_now({0x42});
    ASSERT_EQ(hex(line(1)), "02");  // one failure of this send ...
    ASSERT_EQ(hex(line(1)), "02");  // ... leaves room for a second attempt
    feed({0x10});
    ASSERT_EQ(hex(line(4)), hex(framed({0x42})));
    feed({0x10});
    EXPECT_EQ(send_result(), RC_OK);
}

}  // namespace
