// SPDX-License-Identifier: MIT
// Both sides want to send at once.
#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "link.h"
#include "result_codes.h"

using namespace qo3964;

namespace {

using namespace qotest;

constexpr uint8_t STX_BYTE = 0x02;

class ConflictTest : public EngineLineTest {
protected:
    // The one entry the partner's telegram 01 02 left.
    void expect_partners_telegram()
    {
        const std::vector<Entry> held = entries();
        ASSERT_EQ(held.size(), 1u);
        EXPECT_EQ(hex(held[0].data), "01 02");
        EXPECT_EQ(held[0].status, RC_OK);
    }
};

TEST_F(ConflictTest, MasterModeKeepsItsOwnSendOnAPartnersStxInIdle)
{
    open_line({.mmode = 1});
    start_engine();
    partner_answers({dle_to_stx(), to_closing_block()});
    feed_then({STX_BYTE}, [&] { stage_send({0x41}); });
    EXPECT_EQ(send_result(), RC_OK);
    // Its own STX, and no DLE for the partner.
    EXPECT_EQ(hex(line(5)), "02 " + hex(framed({0x41})));
    EXPECT_EQ(runner().query([&] { return link().p3964_fifo.count; }), 0);
}

TEST_F(ConflictTest, SlaveModeTakesThePartnersTelegramFirst)
{
    open_line({.mmode = 0});
    start_engine();
    partner_answers({{ENGINE_RX_BODY, framed({0x01, 0x02})}, dle_to_stx(), to_closing_block()});
    feed_then({STX_BYTE}, [&] { stage_send({0x41}); });
    EXPECT_EQ(send_result(), RC_OK);
    // DLE to the STX, DLE to the telegram, then the own send.
    EXPECT_EQ(hex(line(7)), "10 10 02 " + hex(framed({0x41})));
    expect_partners_telegram();
}

// The partner's STX in place of the DLE to the own STX.
class ConnectConflictTest : public ConflictTest, public ::testing::WithParamInterface<int16_t> {};

TEST_P(ConnectConflictTest, EngineGivesWayWithoutCountingAnAttempt)
{
    // Two attempts: giving way must leave both of them to the own send.
    open_line({.tds = 2, .mmode = GetParam(), .qvz = 400});
    start_engine();
    // The first attempt is then not answered; the second one still comes.
    partner_answers({{ENGINE_TX_CONNECT, {STX_BYTE}}, {ENGINE_RX_BODY, framed({0x01, 0x02})}, dle_to_stx(1),
                     to_closing_block()});
    stage_send_now({0x41});
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(9)), "02 10 10 02 02 " + hex(framed({0x41})));
    // The partner's telegram, and no empty entry for giving way.
    const std::vector<Entry> held = entries();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(hex(held[0].data), "01 02");
    EXPECT_EQ(held[0].status, RC_OK);
}

INSTANTIATE_TEST_SUITE_P(EitherMasterMode, ConnectConflictTest, ::testing::Values<int16_t>(0, 1));

TEST_F(ConflictTest, FailedReceptionWhileGivingWayLeavesTheSendPending)
{
    open_line({.tds = 1, .tdr = 6});
    start_engine();
    partner_answers({{ENGINE_TX_CONNECT, {STX_BYTE}}, {ENGINE_RX_BODY, with_wrong_bcc({0x01})}, dle_to_stx(),
                     to_closing_block()});
    stage_send_now({0x41});
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(8)), "02 10 15 02 " + hex(framed({0x41})));
    // Not reported: the partner repeats it.
    EXPECT_EQ(runner().query([&] { return link().transfer.rx_status; }), 0);
}

// A send that gave way and then failed (a BREAK while the engine refused
// the partner's telegram) leaves the next send its own giving way.
TEST_F(ConflictTest, NextSendGivesWayAgainAfterOneThatGaveWayFailed)
{
    open_line({.tds = 3, .tdr = 6, .zvz = 100, .qvz = 400});
    use_socket_line();
    start_engine();
    partner_answers({{ENGINE_TX_CONNECT, {STX_BYTE}}, {ENGINE_RX_BODY, with_wrong_bcc({0x01})},
                     {ENGINE_REJECT, {0xFF, 0x00, 0x00}}});
    stage_send_now({0x41});
    EXPECT_EQ(send_result(), RC_BREAK);
    answers_given();
    EXPECT_EQ(hex(line(3)), "02 10 15");

    ASSERT_TRUE(runner().between_steps([&] { link().snd_set.state = SLOT_FREE; }));
    partner_answers({{ENGINE_TX_CONNECT, {STX_BYTE}}, {ENGINE_RX_BODY, framed({0x02})}, dle_to_stx(),
                     to_closing_block()});
    stage_send_now({0x42});
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(8)), "02 10 10 02 " + hex(framed({0x42})));
}

}  // namespace
