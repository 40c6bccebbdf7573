// Both sides want to send at once.
#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "link_transfer.h"
#include "protocol_engine.h"
#include "result_codes.h"
#include "telegram_buffers.h"

namespace {

using namespace qotest;

constexpr uint8_t STX_BYTE = 0x02;

class ConflictTest : public EngineLineTest {
protected:
    // Answers the own send's STX and acknowledges its data.
    void accept_own_send(const Bytes& data)
    {
        feed({0x10});
        EXPECT_EQ(hex(line(framed(data).size())), hex(framed(data)));
        feed({0x10});
        EXPECT_EQ(send_result(), RC_OK);
    }
};

TEST_F(ConflictTest, MasterModeKeepsItsOwnSendOnAPartnersStxInIdle)
{
    open_line({.mmode = 1});
    start_engine();
    feed_then({STX_BYTE}, [] { stage_send({0x41}); });
    // Its own STX, no DLE for the partner.
    EXPECT_EQ(hex(line(1)), "02");
    accept_own_send({0x41});
    EXPECT_EQ(runner().query([] { return p3964_fifo.count; }), 0);
}

TEST_F(ConflictTest, SlaveModeTakesThePartnersTelegramFirst)
{
    open_line({.mmode = 0});
    start_engine();
    feed_then(Bytes{STX_BYTE} + framed({0x01, 0x02}), [] { stage_send({0x41}); });
    // DLE to the STX, DLE to the telegram, then the own STX.
    EXPECT_EQ(hex(line(3)), "10 10 02");
    accept_own_send({0x41});
    const std::vector<Entry> held = entries();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(hex(held[0].data), "01 02");
    EXPECT_EQ(held[0].status, RC_OK);
}

// The partner's STX in place of the DLE to the own STX.
class ConnectConflictTest : public ConflictTest, public ::testing::WithParamInterface<int16_t> {};

TEST_P(ConnectConflictTest, EngineGivesWayWithoutCountingAnAttempt)
{
    // Two attempts: giving way must leave both of them to the own send.
    open_line({.tds = 2, .mmode = GetParam(), .qvz = 500});
    start_engine();
    stage_send_now({0x41});
    ASSERT_EQ(hex(line(1)), "02");
    feed(Bytes{STX_BYTE} + framed({0x01, 0x02}));
    EXPECT_EQ(hex(line(3)), "10 10 02");
    // First attempt: not answered; the second one is still allowed.
    EXPECT_EQ(hex(line(1)), "02");
    accept_own_send({0x41});
    // Only the partner's telegram: giving way queues nothing of its own.
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
    stage_send_now({0x41});
    ASSERT_EQ(hex(line(1)), "02");
    const Bytes bad = with_wrong_bcc({0x01});
    feed(Bytes{STX_BYTE} + bad);
    EXPECT_EQ(hex(line(3)), "10 15 02");
    accept_own_send({0x41});
    EXPECT_EQ(runner().query([] { return link_transfer.rx_status; }), RC_RX_BCC);
}

}  // namespace
