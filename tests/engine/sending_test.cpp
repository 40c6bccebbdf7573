// SPDX-License-Identifier: MIT
// Sending: connection request, DLE doubling, closing block, repetitions.
#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "link.h"
#include "link_counters.h"
#include "result_codes.h"

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
    ASSERT_TRUE(runner().wait_between_steps([&] { return link().engine.engine_state == ENGINE_TX_CONNECT; }, 5000));
    ASSERT_TRUE(runner().wait_steps(5, 5000));
    EXPECT_EQ(runner().query([&] { return link().engine.engine_state; }), ENGINE_TX_CONNECT);
    EXPECT_EQ(hex(line(2, 200)), "02") << "data must wait for the partner's DLE";

    partner_answers({dle_to_stx(), to_closing_block()});
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(7)), "01 10 10 02 10 03 10");
    EXPECT_EQ(runner().query([&] { return link().transfer.send_pending; }), 0);
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

TEST_F(SendingTest, LongTelegramGoesOutWhole)
{
    open_line({});
    start_engine();
    const Bytes data = pattern(2500);
    const Bytes expected = Bytes{0x02} + framed(data);
    partner_answers({dle_to_stx(), to_closing_block()});
    stage_send_now(data);
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(expected.size(), 10000)), hex(expected));
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
    EXPECT_EQ(runner().query([&] { return link().transfer.send_attempts; }), 0);
    EXPECT_TRUE(line_quiet(300));
}

TEST_F(SendingTest, NakToTheClosingBlockIsCountedButTheSendGoesOn)
{
    open_line({.tds = 3});
    start_engine();
    partner_answers({dle_to_stx(), to_closing_block(NAK_ANSWER)});
    stage_send_now({0x41});
    answers_given();
    ASSERT_TRUE(runner().wait_between_steps([&] { return link().transfer.send_attempts == 1; }, 5000));
    EXPECT_EQ(runner().query([&] { return link().snd_set.state; }), SLOT_TAKEN);
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

    // Each STX after the first waited for qvz (less a tick of the 10 ms
    // clock and a margin): the steps that ended writing one.
    std::vector<int64_t> stx;
    for (const StepRecord& step : runner().trace()) {
        if (step.moved && step.state_after == ENGINE_TX_CONNECT) {
            stx.push_back(step.end_ms);
        }
    }
    ASSERT_EQ(stx.size(), 3u);
    for (size_t i = 1; i < stx.size(); ++i) {
        EXPECT_GE(stx[i] - stx[i - 1], qvz - 50);
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

    ASSERT_TRUE(runner().between_steps([&] { link().snd_set.state = SLOT_FREE; }));
    // One failure of this send leaves room for a second attempt.
    partner_answers({dle_to_stx(1), to_closing_block()});
    stage_send_now({0x42});
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(6)), "02 02 " + hex(framed({0x42})));
}

// A refusing partner is there; when it then stops answering, that is
// counted (and said) all the same. The count, not the log: the log may
// hold the line back after earlier tests of this process.
TEST_F(SendingTest, SilenceAfterARefusedSendIsCounted)
{
    alignas(8) static ServerCounters counted{};
    counters_publish_in(counted);
    const uint64_t before = counted.partner_silent;
    open_line({.tds = 1, .qvz = 200});
    start_engine();
    partner_answers({{ENGINE_TX_CONNECT, NAK_ANSWER}});
    stage_send_now({0x41});
    EXPECT_EQ(send_result(), RC_NO_CONNECT);
    answers_given();
    ASSERT_TRUE(runner().between_steps([&] { link().snd_set.state = SLOT_FREE; }));
    stage_send_now({0x42});
    EXPECT_EQ(send_result(), RC_NO_CONNECT);
    runner().stop();
    EXPECT_EQ(counted.partner_silent, before + 1);
}

// A DLE with other bytes right behind it belongs to a block (the rest of a
// telegram the partner finished late), not to an answer: taken for one,
// the send would be reported delivered though the partner never took it.
// Only the partner's STX may follow its acknowledgement.
struct AnswerCase {
    const char* name;
    int32_t state;  // where the answer comes
    Bytes answer;
    int32_t result;  // of the send (one attempt)
};

void PrintTo(const AnswerCase& c, std::ostream* out)
{
    *out << c.name;
}

class DleAnswerTest : public SendingTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(DleAnswerTest, OnlyADleStandingAloneAnswers)
{
    const AnswerCase& c = GetParam();
    open_line({.tds = 1, .zvz = 200});
    start_engine();
    std::vector<Answer> answers{{c.state, c.answer}};
    if (c.state == ENGINE_TX_ACK) {
        answers.insert(answers.begin(), dle_to_stx());
    }
    partner_answers(answers);
    stage_send_now({0x41});
    EXPECT_EQ(send_result(), c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DleAnswerTest,
    ::testing::Values(AnswerCase{"DleWithDataBehindIsNoAnswerToStx", ENGINE_TX_CONNECT, {0x10, 0x41, 0x10, 0x03},
                                 RC_NO_CONNECT},
                      AnswerCase{"DoubledDleIsNoAcknowledgement", ENGINE_TX_ACK, {0x10, 0x10, 0x42}, RC_NO_ACK},
                      AnswerCase{"DleEtxIsNoAcknowledgement", ENGINE_TX_ACK, {0x10, 0x03, 0x52}, RC_NO_ACK},
                      AnswerCase{"AcknowledgementFollowedByTheStxOfTheNextTelegram", ENGINE_TX_ACK, {0x10, 0x02},
                                 RC_OK}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

}  // namespace
