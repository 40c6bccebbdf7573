// SPDX-License-Identifier: MIT
// The three hand-over operations between engine and dispatcher, without a
// line.
#include <cstring>

#include <gtest/gtest.h>

#include "link_transfer.h"
#include "protocol_engine.h"
#include "result_codes.h"
#include "telegram_buffers.h"

using namespace qo3964;

namespace {

class TelegramBuffersTest : public ::testing::Test {
protected:
    void SetUp() override { engine_reset(); }

    static void receive(std::initializer_list<uint8_t> bytes, int32_t status = 0)
    {
        std::copy(bytes.begin(), bytes.end(), link_transfer.rx_data);
        link_transfer.rx_length = static_cast<int32_t>(bytes.size());
        if (status != 0) {
            link_transfer.rx_status = status;
        }
    }
};

TEST_F(TelegramBuffersTest, PushQueuesAtHeadPlusCountWithStatusOne)
{
    p3964_fifo.head = 5;
    p3964_fifo.count = 2;
    receive({0x01, 0x10, 0x02});
    push_received(p3964_fifo);

    const TelegramSlot& entry = p3964_fifo.entries[7];
    EXPECT_EQ(entry.length, 3);
    EXPECT_EQ(std::memcmp(entry.data, "\x01\x10\x02", 3), 0);
    EXPECT_EQ(entry.status, RC_OK);
    EXPECT_EQ(entry.state, SLOT_DONE);
    EXPECT_EQ(p3964_fifo.count, 3);
    EXPECT_EQ(p3964_fifo.head, 5);
    EXPECT_EQ(link_transfer.rx_length, 0);
    EXPECT_EQ(link_transfer.rx_waiting, 0);
}

// A status is an entry of its own, queued ahead of the next telegram,
// which keeps its good status; a waiting -83 is not replaced.
TEST_F(TelegramBuffersTest, ReportedStatusIsAnEntryOfItsOwnAheadOfTheNextTelegram)
{
    p3964_fifo.count = FIFO_DEPTH;
    report_status(p3964_fifo, RC_RX_OCCUPIED);
    report_status(p3964_fifo, RC_BREAK);
    EXPECT_EQ(link_transfer.rx_status, RC_RX_OCCUPIED);
    p3964_fifo.count = 0;

    receive({0x41});
    push_received(p3964_fifo);
    ASSERT_EQ(p3964_fifo.count, 2);
    EXPECT_EQ(p3964_fifo.entries[0].length, 0);
    EXPECT_EQ(p3964_fifo.entries[0].status, RC_RX_OCCUPIED);
    EXPECT_EQ(p3964_fifo.entries[1].length, 1);
    EXPECT_EQ(p3964_fifo.entries[1].status, RC_OK);
    EXPECT_EQ(link_transfer.rx_status, 0);

    report_status(p3964_fifo, RC_RX_ZVZ);
    EXPECT_EQ(p3964_fifo.count, 3);
    EXPECT_EQ(p3964_fifo.entries[2].status, RC_RX_ZVZ);
}

TEST_F(TelegramBuffersTest, RingWrapsFromFifteenToZero)
{
    p3964_fifo.head = 15;
    for (uint8_t byte = 1; byte <= 3; ++byte) {
        receive({byte});
        push_received(p3964_fifo);
    }
    EXPECT_EQ(p3964_fifo.entries[15].data[0], 1);
    EXPECT_EQ(p3964_fifo.entries[0].data[0], 2);
    EXPECT_EQ(p3964_fifo.entries[1].data[0], 3);
    EXPECT_EQ(p3964_fifo.count, 3);
}

TEST_F(TelegramBuffersTest, SeventeenthPushLeavesRingAndTelegramUntouched)
{
    p3964_fifo.head = 9;
    for (uint8_t byte = 0; byte < FIFO_DEPTH; ++byte) {
        receive({byte});
        push_received(p3964_fifo);
    }
    ASSERT_EQ(p3964_fifo.count, FIFO_DEPTH);
    const ReceiveFifo before = p3964_fifo;

    receive({0xAA, 0xBB}, RC_RX_OCCUPIED);
    push_received(p3964_fifo);

    EXPECT_EQ(std::memcmp(&before, &p3964_fifo, sizeof before), 0);
    EXPECT_EQ(link_transfer.rx_waiting, 1);
    EXPECT_EQ(link_transfer.rx_length, 2);
    EXPECT_EQ(link_transfer.rx_data[0], 0xAA);
    EXPECT_EQ(link_transfer.rx_status, RC_RX_OCCUPIED);
}

TEST_F(TelegramBuffersTest, TakeSendJobCopiesAStagedSlot)
{
    std::memcpy(snd_set.data, "\x01\x02\x03", 3);
    snd_set.length = 3;
    snd_set.status = 99;
    snd_set.state = SLOT_STAGED;
    take_send_job(snd_set);

    EXPECT_EQ(link_transfer.tx_length, 3);
    EXPECT_EQ(std::memcmp(link_transfer.tx_data, "\x01\x02\x03", 3), 0);
    EXPECT_EQ(link_transfer.send_pending, 1);
    EXPECT_EQ(snd_set.status, 0);
    EXPECT_EQ(snd_set.state, SLOT_TAKEN);
}

TEST_F(TelegramBuffersTest, TakeSendJobWaitsWhileASendIsPending)
{
    snd_set.length = 1;
    snd_set.data[0] = 0x11;
    snd_set.state = SLOT_STAGED;
    take_send_job(snd_set);
    complete_send(RC_OK);
    EXPECT_EQ(link_transfer.send_pending, 0);

    // A pending send keeps a newly staged slot where it is.
    link_transfer.send_pending = 1;
    snd_set.data[0] = 0x22;
    snd_set.state = SLOT_STAGED;
    take_send_job(snd_set);
    EXPECT_EQ(snd_set.state, SLOT_STAGED);
    EXPECT_EQ(link_transfer.tx_data[0], 0x11);

    complete_send(RC_NO_CONNECT);
    snd_set.state = SLOT_STAGED;  // the dispatcher hands back and stages again
    take_send_job(snd_set);
    EXPECT_EQ(snd_set.state, SLOT_TAKEN);
    EXPECT_EQ(link_transfer.tx_data[0], 0x22);
}

TEST_F(TelegramBuffersTest, TakeSendJobIgnoresSlotsNotStaged)
{
    for (int32_t state : {SLOT_FREE, SLOT_TAKEN, SLOT_DONE}) {
        snd_set.state = state;
        snd_set.length = 5;
        take_send_job(snd_set);
        EXPECT_EQ(snd_set.state, state);
        EXPECT_EQ(link_transfer.send_pending, 0);
    }
}

TEST_F(TelegramBuffersTest, TakeSendJobRefusesALengthOutsideTheBuffer)
{
    for (int32_t length : {TELEGRAM_MAX + 1, -1, 0x7fffffff}) {
        snd_set.length = length;
        snd_set.state = SLOT_STAGED;
        take_send_job(snd_set);
        EXPECT_EQ(snd_set.state, SLOT_DONE);
        EXPECT_EQ(snd_set.status, RC_TOO_LONG);
        EXPECT_EQ(link_transfer.send_pending, 0);
        EXPECT_EQ(link_transfer.tx_length, 0);
    }
    snd_set.length = TELEGRAM_MAX;
    snd_set.state = SLOT_STAGED;
    take_send_job(snd_set);
    EXPECT_EQ(link_transfer.tx_length, TELEGRAM_MAX);
}

TEST_F(TelegramBuffersTest, CompleteSendFinishesTheSlotAndClearsTheAttempts)
{
    link_transfer.send_pending = 1;
    link_transfer.send_attempts = 4;
    snd_set.state = SLOT_TAKEN;
    complete_send(RC_NO_CONNECT);
    EXPECT_EQ(snd_set.state, SLOT_DONE);
    EXPECT_EQ(snd_set.status, RC_NO_CONNECT);
    EXPECT_EQ(link_transfer.send_pending, 0);
    EXPECT_EQ(link_transfer.send_attempts, 0);
}

}  // namespace
