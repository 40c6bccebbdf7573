// SPDX-License-Identifier: MIT
// The ReceiveFifo full: telegrams acknowledged but held in rx_data, the
// wait for room at the partner's next STX, and the order of arrival.
#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "link.h"
#include "result_codes.h"

using namespace qo3964;

namespace {

using namespace qotest;

constexpr uint8_t STX_BYTE = 0x02;

struct Held {
    int32_t count;
    int32_t rx_waiting;
    Bytes rx_data;
};

Held held_telegram(const Link& link)
{
    return Held{link.p3964_fifo.count, link.transfer.rx_waiting,
                Bytes(link.transfer.rx_data, link.transfer.rx_data + link.transfer.rx_length)};
}

class RingFullTest : public EngineLineTest {
protected:
    // A full ring and the seventeenth telegram acknowledged into rx_data.
    void hold_a_telegram(const Bytes& data)
    {
        ASSERT_TRUE(runner().between_steps([&] { fill_ring(3, FIFO_DEPTH); }));
        partner_sends(framed(data));
        ASSERT_EQ(hex(line(2)), "10 10");
        ASSERT_TRUE(runner().wait_between_steps([&] { return link().transfer.rx_waiting == 1; }, 5000));
    }
};

TEST_F(RingFullTest, SeventeenthTelegramIsAcknowledgedAndHeld)
{
    open_line({});
    start_engine();
    hold_a_telegram({0xAA, 0xBB});
    ASSERT_TRUE(runner().wait_steps(5, 5000));
    const Held held = runner().query([&] { return held_telegram(link()); });
    EXPECT_EQ(held.count, FIFO_DEPTH);
    EXPECT_EQ(held.rx_waiting, 1);
    EXPECT_EQ(hex(held.rx_data), "AA BB");
    // The ring itself is untouched.
    EXPECT_EQ(hex(entries().back().data), "0F");
}

TEST_F(RingFullTest, HeldTelegramIsQueuedAtTheFirstStepWithRoom)
{
    open_line({});
    start_engine();
    hold_a_telegram({0xAA, 0xBB});
    int64_t room_at = 0;
    ASSERT_TRUE(runner().between_steps([&] {
        pop_entry();
        room_at = runner().steps();
    }));
    int64_t queued_at = 0;
    ASSERT_TRUE(runner().wait_between_steps([&] { return link().transfer.rx_waiting == 0; }, 5000,
                                            [&] { queued_at = runner().steps(); }));
    EXPECT_EQ(queued_at, room_at + 1);
    const std::vector<Entry> held = entries();
    ASSERT_EQ(held.size(), static_cast<size_t>(FIFO_DEPTH));
    EXPECT_EQ(hex(held.back().data), "AA BB");
    EXPECT_EQ(held.back().status, RC_OK);
    EXPECT_TRUE(line_quiet(200));
}

TEST_F(RingFullTest, RoomWithinTheWaitQueuesTheHeldOneAndAcceptsTheNext)
{
    open_line({});
    start_engine();
    hold_a_telegram({0xAA});
    // The next STX finds the telegram still held; room for two appears
    // while the engine waits for it.
    partner_answers({{ENGINE_RX_BODY, framed({0xBB})}});
    feed({STX_BYTE});
    ASSERT_TRUE(runner().wait_between_steps([&] { return link().engine.engine_state == ENGINE_RX_BLOCKED; }, 5000,
                                            [&] {
                                                pop_entry();
                                                pop_entry();
                                            }));
    answers_given();
    EXPECT_EQ(hex(line(2)), "10 10");
    ASSERT_TRUE(runner().wait_between_steps(
        [&] { return link().p3964_fifo.count == FIFO_DEPTH && link().transfer.rx_waiting == 0; }, 5000));
    const std::vector<Entry> held = entries();
    EXPECT_EQ(hex(held[FIFO_DEPTH - 2].data), "AA");
    EXPECT_EQ(hex(held[FIFO_DEPTH - 1].data), "BB");
    EXPECT_EQ(held[FIFO_DEPTH - 1].status, RC_OK);
}

// The refused telegram is reported as an entry of its own (-83), queued
// ahead of the next telegram, which keeps its good status.
TEST_F(RingFullTest, NoRoomWithinTheWaitRefusesAndReportsOccupied)
{
    open_line({});
    start_engine();
    hold_a_telegram({0xAA});
    feed({STX_BYTE});
    ASSERT_TRUE(runner().wait_between_steps([&] { return link().engine.engine_state == ENGINE_RX_BLOCKED; }, 5000));
    EXPECT_EQ(hex(line(1)), "15");
    const int32_t status = runner().query([&] { return link().transfer.rx_status; });
    EXPECT_EQ(status, RC_RX_OCCUPIED);

    ASSERT_TRUE(runner().between_steps([&] {
        pop_entry();
        pop_entry();
    }));
    ASSERT_TRUE(runner().wait_between_steps([&] { return link().transfer.rx_waiting == 0; }, 5000));
    const std::vector<Entry> held = entries();
    ASSERT_EQ(held.size(), static_cast<size_t>(FIFO_DEPTH));
    EXPECT_TRUE(held[FIFO_DEPTH - 2].data.empty());
    EXPECT_EQ(held[FIFO_DEPTH - 2].status, RC_RX_OCCUPIED);
    EXPECT_EQ(hex(held.back().data), "AA");
    EXPECT_EQ(held.back().status, RC_OK);
    EXPECT_EQ(runner().query([&] { return link().transfer.rx_status; }), 0);
}

// A failure the partner's repetition recovered is not the client's
// business: the telegram held afterwards keeps its good status.
TEST_F(RingFullTest, HeldTelegramAfterARecoveredFailureIsGood)
{
    open_line({.tdr = 6});
    start_engine();
    const Bytes bad = with_wrong_bcc({0x41});
    partner_sends(bad);
    ASSERT_EQ(hex(line(2)), "10 15");
    wait_state(ENGINE_IDLE);
    hold_a_telegram({0xAA});
    pop_entry_now();
    ASSERT_TRUE(runner().wait_between_steps([&] { return link().transfer.rx_waiting == 0; }, 5000));
    const Entry last = entries().back();
    EXPECT_EQ(hex(last.data), "AA");
    EXPECT_EQ(last.status, RC_OK);
}

// Giving way to the partner's STX with nothing held: its telegram is
// accepted even into a full ring, and held there; the own send goes on.
TEST_F(RingFullTest, PartnersStxWhileConnectingIntoAFullRingIsAcceptedAndHeld)
{
    open_line({.tds = 1, .qvz = 600});
    start_engine();
    ASSERT_TRUE(runner().between_steps([&] { fill_ring(0, FIFO_DEPTH); }));
    partner_answers({{ENGINE_TX_CONNECT, {STX_BYTE}}, {ENGINE_RX_BODY, framed({0x01})}, dle_to_stx(),
                     to_closing_block()});
    stage_send_now({0x41});
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(8)), "02 10 10 02 " + hex(framed({0x41})));
    const Held held = runner().query([&] { return held_telegram(link()); });
    EXPECT_EQ(held.count, FIFO_DEPTH);
    EXPECT_EQ(held.rx_waiting, 1);
    EXPECT_EQ(hex(held.rx_data), "01");
    EXPECT_EQ(runner().query([&] { return link().transfer.rx_status; }), 0);
}

TEST_F(RingFullTest, ArrivalOrderIsKeptAcrossTheEndOfTheRing)
{
    open_line({});
    start_engine();
    ASSERT_TRUE(runner().between_steps([&] { fill_ring(14, 0); }));
    for (uint8_t byte = 1; byte <= 4; ++byte) {
        // The data only after the DLE, as a partner sends them: the telegram
        // 02 must not look like a repeated STX.
        feed(Bytes{STX_BYTE});
        ASSERT_EQ(hex(line(1)), "10");
        feed(framed({byte}));
        ASSERT_EQ(hex(line(1)), "10");
    }
    ASSERT_TRUE(wait_entries(4));
    for (uint8_t byte = 1; byte <= 4; ++byte) {
        EXPECT_EQ(hex(pop_entry_now().data), hex({byte}));
    }
    EXPECT_EQ(runner().query([&] { return link().p3964_fifo.head; }), 2);
}

}  // namespace
