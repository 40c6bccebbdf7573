// SPDX-License-Identifier: MIT
// The three hand-over operations between engine and dispatcher, without a
// line.
#include <cstring>

#include <gtest/gtest.h>

#include <memory>

#include "link.h"
#include "result_codes.h"

using namespace qo3964;

namespace {

class TelegramBuffersTest : public ::testing::Test {
protected:
    std::unique_ptr<Link> link_ = std::make_unique<Link>();
    Link& link() { return *link_; }

    void receive(std::initializer_list<uint8_t> bytes, int32_t status = 0)
    {
        std::copy(bytes.begin(), bytes.end(), link().transfer.rx_data);
        link().transfer.rx_length = static_cast<int32_t>(bytes.size());
        if (status != 0) {
            link().transfer.rx_status = status;
        }
    }
};

TEST_F(TelegramBuffersTest, PushQueuesAtHeadPlusCountWithStatusOne)
{
    link().p3964_fifo.head = 5;
    link().p3964_fifo.count = 2;
    receive({0x01, 0x10, 0x02});
    push_received(link());

    const TelegramSlot& entry = link().p3964_fifo.entries[7];
    EXPECT_EQ(entry.length, 3);
    EXPECT_EQ(std::memcmp(entry.data, "\x01\x10\x02", 3), 0);
    EXPECT_EQ(entry.status, RC_OK);
    EXPECT_EQ(entry.state, SLOT_DONE);
    EXPECT_EQ(link().p3964_fifo.count, 3);
    EXPECT_EQ(link().p3964_fifo.head, 5);
    EXPECT_EQ(link().transfer.rx_length, 0);
    EXPECT_EQ(link().transfer.rx_waiting, 0);
}

// A status is an entry of its own, queued ahead of the next telegram,
// which keeps its good status; a waiting -83 is not replaced.
TEST_F(TelegramBuffersTest, ReportedStatusIsAnEntryOfItsOwnAheadOfTheNextTelegram)
{
    link().p3964_fifo.count = FIFO_DEPTH;
    report_status(link(), RC_RX_OCCUPIED);
    report_status(link(), RC_BREAK);
    EXPECT_EQ(link().transfer.rx_status, RC_RX_OCCUPIED);
    link().p3964_fifo.count = 0;

    receive({0x41});
    push_received(link());
    ASSERT_EQ(link().p3964_fifo.count, 2);
    EXPECT_EQ(link().p3964_fifo.entries[0].length, 0);
    EXPECT_EQ(link().p3964_fifo.entries[0].status, RC_RX_OCCUPIED);
    EXPECT_EQ(link().p3964_fifo.entries[1].length, 1);
    EXPECT_EQ(link().p3964_fifo.entries[1].status, RC_OK);
    EXPECT_EQ(link().transfer.rx_status, 0);

    report_status(link(), RC_RX_ZVZ);
    EXPECT_EQ(link().p3964_fifo.count, 3);
    EXPECT_EQ(link().p3964_fifo.entries[2].status, RC_RX_ZVZ);
}

TEST_F(TelegramBuffersTest, RingWrapsFromFifteenToZero)
{
    link().p3964_fifo.head = 15;
    for (uint8_t byte = 1; byte <= 3; ++byte) {
        receive({byte});
        push_received(link());
    }
    EXPECT_EQ(link().p3964_fifo.entries[15].data[0], 1);
    EXPECT_EQ(link().p3964_fifo.entries[0].data[0], 2);
    EXPECT_EQ(link().p3964_fifo.entries[1].data[0], 3);
    EXPECT_EQ(link().p3964_fifo.count, 3);
}

TEST_F(TelegramBuffersTest, SeventeenthPushLeavesRingAndTelegramUntouched)
{
    link().p3964_fifo.head = 9;
    for (uint8_t byte = 0; byte < FIFO_DEPTH; ++byte) {
        receive({byte});
        push_received(link());
    }
    ASSERT_EQ(link().p3964_fifo.count, FIFO_DEPTH);
    const ReceiveFifo before = link().p3964_fifo;

    receive({0xAA, 0xBB}, RC_RX_OCCUPIED);
    push_received(link());

    EXPECT_EQ(std::memcmp(&before, &link().p3964_fifo, sizeof before), 0);
    EXPECT_EQ(link().transfer.rx_waiting, 1);
    EXPECT_EQ(link().transfer.rx_length, 2);
    EXPECT_EQ(link().transfer.rx_data[0], 0xAA);
    EXPECT_EQ(link().transfer.rx_status, RC_RX_OCCUPIED);
}

TEST_F(TelegramBuffersTest, TakeSendJobCopiesAStagedSlot)
{
    std::memcpy(link().snd_set.data, "\x01\x02\x03", 3);
    link().snd_set.length = 3;
    link().snd_set.status = 99;
    link().snd_set.state = SLOT_STAGED;
    take_send_job(link());

    EXPECT_EQ(link().transfer.tx_length, 3);
    EXPECT_EQ(std::memcmp(link().transfer.tx_data, "\x01\x02\x03", 3), 0);
    EXPECT_EQ(link().transfer.send_pending, 1);
    EXPECT_EQ(link().snd_set.status, 0);
    EXPECT_EQ(link().snd_set.state, SLOT_TAKEN);
}

TEST_F(TelegramBuffersTest, TakeSendJobWaitsWhileASendIsPending)
{
    link().snd_set.length = 1;
    link().snd_set.data[0] = 0x11;
    link().snd_set.state = SLOT_STAGED;
    take_send_job(link());
    complete_send(link(), RC_OK);
    EXPECT_EQ(link().transfer.send_pending, 0);

    // A pending send keeps a newly staged slot where it is.
    link().transfer.send_pending = 1;
    link().snd_set.data[0] = 0x22;
    link().snd_set.state = SLOT_STAGED;
    take_send_job(link());
    EXPECT_EQ(link().snd_set.state, SLOT_STAGED);
    EXPECT_EQ(link().transfer.tx_data[0], 0x11);

    complete_send(link(), RC_NO_CONNECT);
    link().snd_set.state = SLOT_STAGED;  // the dispatcher hands back and stages again
    take_send_job(link());
    EXPECT_EQ(link().snd_set.state, SLOT_TAKEN);
    EXPECT_EQ(link().transfer.tx_data[0], 0x22);
}

TEST_F(TelegramBuffersTest, TakeSendJobIgnoresSlotsNotStaged)
{
    for (int32_t state : {SLOT_FREE, SLOT_TAKEN, SLOT_DONE}) {
        link().snd_set.state = state;
        link().snd_set.length = 5;
        take_send_job(link());
        EXPECT_EQ(link().snd_set.state, state);
        EXPECT_EQ(link().transfer.send_pending, 0);
    }
}

TEST_F(TelegramBuffersTest, TakeSendJobRefusesALengthOutsideTheBuffer)
{
    for (int32_t length : {TELEGRAM_MAX + 1, -1, 0x7fffffff}) {
        link().snd_set.length = length;
        link().snd_set.state = SLOT_STAGED;
        take_send_job(link());
        EXPECT_EQ(link().snd_set.state, SLOT_DONE);
        EXPECT_EQ(link().snd_set.status, RC_TOO_LONG);
        EXPECT_EQ(link().transfer.send_pending, 0);
        EXPECT_EQ(link().transfer.tx_length, 0);
    }
    link().snd_set.length = TELEGRAM_MAX;
    link().snd_set.state = SLOT_STAGED;
    take_send_job(link());
    EXPECT_EQ(link().transfer.tx_length, TELEGRAM_MAX);
}

TEST_F(TelegramBuffersTest, CompleteSendFinishesTheSlotAndClearsTheAttempts)
{
    link().transfer.send_pending = 1;
    link().transfer.send_attempts = 4;
    link().snd_set.state = SLOT_TAKEN;
    complete_send(link(), RC_NO_CONNECT);
    EXPECT_EQ(link().snd_set.state, SLOT_DONE);
    EXPECT_EQ(link().snd_set.status, RC_NO_CONNECT);
    EXPECT_EQ(link().transfer.send_pending, 0);
    EXPECT_EQ(link().transfer.send_attempts, 0);
}

}  // namespace
