// SPDX-License-Identifier: MIT
// Sending: connection request, DLE doubling, closing block, repetitions.
#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "link_transfer.h"
#include "protocol_engine.h"
#include "result_codes.h"
#include "telegram_buffers.h"

using namespace qo3964;

namespace {

using namespace qotest;

const Bytes NAK_ANSWER{0x15};

class SendingTest : public EngineLineTest {};

TEST_F(SendingTest, DataWaitsForDleAndDoublesDleButNotTheBcc)
{
    open_line({.qvz = 5000});
    start_engine();
    stage_send_now({0x01, 0x10, 0x02});
    ASSERT_TRUE(runner().wait_between_steps([] { return engine.engine_state == ENGINE_TX_CONNECT; }, 5000));
    ASSERT_TRUE(runner().wait_steps(5, 5000));
    EXPECT_EQ(runner().query([] { return engine.engine_state; }), ENGINE_TX_CONNECT);
    EXPECT_EQ(hex(line(2, 200)), "02") << "data must wait for the partner's DLE";

    partner_answers({dle_to_stx(), to_closing_block()});
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(7)), "01 10 10 02 10 03 10");
    EXPECT_EQ(runner().query([] { return link_transfer.send_pending; }), 0);
    EXPECT_TRUE(line_quiet(200));
}

TEST_F(SendingTest, Mode3964LeavesTheBccOut)
{
    open_line({.bcc_mode = 0});
    start_engine();
    partner_answers({dle_to_stx(), to_closing_block()});
    stage_send_now({0x01, 0x10, 0x02});
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(7)), "02 01 10 10 02 10 03");
    EXPECT_TRUE(line_quiet(200));
}

class EmptyTelegramTest : public SendingTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(EmptyTelegramTest, IsTheClosingBlockAlone)
{
    open_line({.bcc_mode = GetParam()});
    start_engine();
    partner_answers({dle_to_stx(), to_closing_block()});
    stage_send_now({});
    EXPECT_EQ(send_result(), RC_OK);
    const Bytes expected = GetParam() != 0 ? Bytes{0x02, 0x10, 0x03, 0x13} : Bytes{0x02, 0x10, 0x03};
    EXPECT_EQ(hex(line(expected.size())), hex(expected));
    EXPECT_TRUE(line_quiet(200));
}

INSTANTIATE_TEST_SUITE_P(BothModes, EmptyTelegramTest, ::testing::Values(1, 0));

TEST_F(SendingTest, LongTelegramGoesOutInChunksOfAtMostAThousandBytes)
{
    open_line({});
    start_engine();
    const Bytes data = pattern(2500);
    const Bytes expected = Bytes{0x02} + framed(data);
    partner_answers({dle_to_stx(), to_closing_block()});
    stage_send_now(data);
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(expected.size(), 10000)), hex(expected));
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
    partner_answers({dle_to_stx(0), to_closing_block(NAK_ANSWER), dle_to_stx(1),
                     to_closing_block(NAK_ANSWER), dle_to_stx(2), to_closing_block(NAK_ANSWER)});
    stage_send_now({0x41});
    EXPECT_EQ(send_result(), RC_NO_ACK);
    const Bytes attempt = Bytes{0x02} + framed({0x41});
    EXPECT_EQ(hex(line(3 * attempt.size() + 1)), hex(attempt + attempt + attempt + NAK_ANSWER));
    EXPECT_EQ(runner().query([] { return link_transfer.send_attempts; }), 0);
    EXPECT_TRUE(line_quiet(300));
}

TEST_F(SendingTest, NakToTheClosingBlockIsCountedButTheSendGoesOn)
{
    open_line({.tds = 3});
    start_engine();
    partner_answers({dle_to_stx(), to_closing_block(NAK_ANSWER)});
    stage_send_now({0x41});
    answers_given();
    ASSERT_TRUE(runner().wait_between_steps([] { return link_transfer.send_attempts == 1; }, 5000));
    EXPECT_EQ(runner().query([] { return snd_set.state; }), SLOT_TAKEN);
    partner_answers({dle_to_stx(1), to_closing_block()});
    EXPECT_EQ(send_result(), RC_OK);
}

TEST_F(SendingTest, UnansweredStxIsRepeatedAfterQvzThenRefusedWithNak)
{
    constexpr int32_t qvz = 400;
    open_line({.tds = 3, .qvz = qvz});
    start_engine();
    stage_send_now({0x41});
    EXPECT_EQ(send_result(), RC_NO_CONNECT);
    EXPECT_EQ(hex(line(4)), "02 02 02 15");
    EXPECT_TRUE(line_quiet(300));
    runner().stop();

    // Each STX waited for qvz (less a tick of the 10 ms clock and a margin).
    const std::vector<int64_t> stx = step_times(ENGINE_IDLE, ENGINE_TX_CONNECT);
    const std::vector<int64_t> failed = step_times(ENGINE_TX_CONNECT, ENGINE_IDLE);
    ASSERT_EQ(stx.size(), 3u);
    ASSERT_EQ(failed.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_GE(failed[i] - stx[i], qvz - 50);
    }
}

TEST_F(SendingTest, WrongAnswerToStxFailsTheAttemptAtOnce)
{
    // A qvz far beyond the bounds of this test: only an immediate failure passes.
    open_line({.tds = 2, .qvz = 60000});
    start_engine();
    partner_answers({{ENGINE_TX_CONNECT, NAK_ANSWER}, {ENGINE_TX_CONNECT, {0x41}}});
    stage_send_now({0x41});
    EXPECT_EQ(send_result(), RC_NO_CONNECT);
    EXPECT_EQ(hex(line(3)), "02 02 15");
}

TEST_F(SendingTest, AttemptsCountAcrossBothKindsOfFailure)
{
    open_line({.tds = 3, .qvz = 400});
    start_engine();
    // 1: not answered; 2: closing block refused; 3: not answered, the last.
    partner_answers({dle_to_stx(1), to_closing_block(NAK_ANSWER)});
    stage_send_now({0x41});
    EXPECT_EQ(send_result(), RC_NO_CONNECT);
    EXPECT_EQ(hex(line(9)), "02 02 " + hex(framed({0x41})) + " 02 15");
}

TEST_F(SendingTest, MissingAcknowledgementOnTheLastAttemptGivesNoAck)
{
    open_line({.tds = 1, .qvz = 400});
    start_engine();
    partner_answers({dle_to_stx()});
    stage_send_now({0x10});
    EXPECT_EQ(send_result(), RC_NO_ACK);
    EXPECT_EQ(hex(line(7)), "02 " + hex(framed({0x10})) + " 15");
}

TEST_F(SendingTest, NextSendStartsWithFreshAttempts)
{
    open_line({.tds = 2, .qvz = 400});
    start_engine();
    stage_send_now({0x41});
    ASSERT_EQ(send_result(), RC_NO_CONNECT);
    EXPECT_EQ(hex(line(3)), "02 02 15");

    ASSERT_TRUE(runner().between_steps([] { snd_set.state = SLOT_FREE; }));
    // One failure of this send leaves room for a second attempt.
    partner_answers({dle_to_stx(1), to_closing_block()});
    stage_send_now({0x42});
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(6)), "02 02 " + hex(framed({0x42})));
}

}  // namespace
