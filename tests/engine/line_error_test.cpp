// SPDX-License-Identifier: MIT
// Unexpected bytes and line errors read in idle. BREAK and parity errors
// come as the terminal driver's PARMRK markings on a socket in place of
// the pty, which cannot produce them.
#include <chrono>

#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "link_transfer.h"
#include "protocol_engine.h"
#include "result_codes.h"
#include "telegram_buffers.h"

using namespace qo3964;

namespace {

using namespace qotest;
using Clock = std::chrono::steady_clock;

constexpr uint8_t STX_BYTE = 0x02;
const Bytes BREAK_MARK{0xFF, 0x00, 0x00};
const Bytes PARITY_MARK{0xFF, 0x00, 0x41};

int64_t ms_since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class LineErrorTest : public EngineLineTest {};

TEST_F(LineErrorTest, StrayByteInIdleIsAnsweredWithNakAfterZvz)
{
    constexpr int32_t zvz = 300;
    open_line({.zvz = zvz});
    start_engine();
    const Clock::time_point start = Clock::now();
    feed({0x41});
    EXPECT_EQ(hex(line(1)), "15");
    EXPECT_GE(ms_since(start), zvz - 20);
    EXPECT_TRUE(line_quiet(300));
    EXPECT_EQ(runner().query([] { return p3964_fifo.count; }), 0);
}

// A BREAK fails the send pending at that moment and is reported once; the
// next send goes out as soon as the line is silent again.
TEST_F(LineErrorTest, BreakFailsThePendingSendOnceAndIsReportedOnce)
{
    open_line({.zvz = 200});
    use_socket_line();
    start_engine();
    feed_then(BREAK_MARK, [] { stage_send({0x41}); });
    EXPECT_EQ(send_result(), RC_BREAK);
    expect_error_entry(RC_BREAK);
    EXPECT_EQ(hex(line(1)), "15");

    ASSERT_TRUE(runner().between_steps([] { snd_set.state = SLOT_FREE; }));
    partner_answers({dle_to_stx(), to_closing_block()});
    stage_send_now({0x42});
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(5)), "02 " + hex(framed({0x42})));
    EXPECT_EQ(runner().query([] { return p3964_fifo.count; }), 0);
}

// A parity error is reported once and answered with one NAK; the pending
// send then goes out without a good byte from the partner.
TEST_F(LineErrorTest, ParityErrorIsReportedOnceAndTheSendGoesOut)
{
    open_line({.zvz = 200});
    use_socket_line();
    start_engine();
    partner_answers({dle_to_stx(), to_closing_block()});
    feed_then(PARITY_MARK, [] { stage_send({0x41}); });
    expect_error_entry(RC_PARITY);
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(6)), "15 02 " + hex(framed({0x41})));
    EXPECT_TRUE(line_quiet(600)) << "no NAK stream";
    EXPECT_EQ(runner().query([] { return p3964_fifo.count; }), 0);
}

// Bytes that keep coming while the engine waits to refuse them restart its
// quiet time: a burst ends in one NAK, zvz after its last byte.
TEST_F(LineErrorTest, BurstEndsInOneNakAfterZvzOfQuiet)
{
    constexpr int32_t zvz = 1000;
    open_line({.zvz = zvz});
    start_engine();
    Clock::time_point last{};
    for (int i = 0; i < 15; ++i) {
        feed({static_cast<uint8_t>(0x41 + i)});
        last = Clock::now();
        ASSERT_TRUE(line_quiet(100)) << "NAK while the burst goes on";
    }
    EXPECT_EQ(hex(line(1)), "15");
    EXPECT_GE(ms_since(last), zvz - 20);
    EXPECT_TRUE(line_quiet(zvz + 200));
}

// An STX while the engine waits to refuse noise is the partner's new
// request: answered at once, the noise dropped without a NAK.
TEST_F(LineErrorTest, StxAfterNoiseIsAnsweredWithoutNak)
{
    open_line({.zvz = 2000});
    start_engine();
    feed({0x41, 0x42, 0x43});
    ASSERT_TRUE(runner().wait_between_steps([] { return engine.engine_state == ENGINE_REJECT; }, 5000));
    feed({STX_BYTE});
    EXPECT_EQ(hex(line(1)), "10") << "the DLE comes before any NAK";
    feed(framed({0x01}));
    EXPECT_EQ(hex(line(1)), "10");
    ASSERT_TRUE(wait_entries(1));
    EXPECT_EQ(hex(pop_entry_now().data), "01");
}

TEST_F(LineErrorTest, LineErrorInsideATelegramIsABccError)
{
    open_line({});
    use_socket_line();
    start_engine();
    // 01, a character with a parity error, 02: the check itself is right.
    const Bytes body{0x01, 0x41, 0x02, 0x10, 0x03};
    feed(Bytes{STX_BYTE, 0x01} + PARITY_MARK + Bytes{0x02, 0x10, 0x03, block_check(body)});
    EXPECT_EQ(hex(line(2)), "10 15");
    expect_error_entry(RC_RX_BCC);
}

TEST_F(LineErrorTest, DataByteFfArrivesDoubledAndIsData)
{
    open_line({});
    use_socket_line();
    start_engine();
    feed(Bytes{STX_BYTE, 0xFF, 0xFF, 0x10, 0x03, 0xFF ^ 0x13});
    EXPECT_EQ(hex(line(2)), "10 10");
    ASSERT_TRUE(wait_entries(1));
    EXPECT_EQ(hex(pop_entry_now().data), "FF");
}

}  // namespace
