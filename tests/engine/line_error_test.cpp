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

class LineErrorTest : public EngineLineTest {
protected:
    // Reads NAKs until the first other byte, which it returns; -1 when
    // nothing but NAKs came within timeout_ms.
    int after_naks(int timeout_ms = 5000)
    {
        const Clock::time_point start = Clock::now();
        for (int64_t left = timeout_ms; left > 0; left = timeout_ms - ms_since(start)) {
            const Bytes byte = line(1, static_cast<int>(left));
            if (!byte.empty() && byte[0] != 0x15) {
                return byte[0];
            }
        }
        return -1;
    }
};

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

TEST_F(LineErrorTest, BreakFailsAPendingSendWithoutStxAndIsQueued)
{
    open_line({.zvz = 200});
    use_socket_line();
    start_engine();
    feed_then(BREAK_MARK, [] { stage_send({0x41}); });
    EXPECT_EQ(send_result(), RC_BREAK);
    expect_error_entry(RC_BREAK);
    // The BREAK itself meets the reject state: NAK, and no STX.
    EXPECT_EQ(hex(line(1)), "15");

    // Reported again whenever the ring has been emptied; and every new
    // send fails at once.
    ASSERT_TRUE(wait_entries(1));
    EXPECT_EQ(pop_entry_now().status, RC_BREAK);
    ASSERT_TRUE(runner().between_steps([] { snd_set.state = SLOT_FREE; }));
    stage_send_now({0x42});
    EXPECT_EQ(send_result(), RC_BREAK);
    ASSERT_TRUE(wait_entries(1));
    EXPECT_EQ(after_naks(1000), -1) << "no STX while the BREAK is latched";

    // The partner's STX ends it: the telegram is taken, the next send goes out.
    feed(Bytes{STX_BYTE} + framed({0x01}));
    EXPECT_EQ(after_naks(), 0x10);
    EXPECT_EQ(hex(line(1)), "10");
    ASSERT_TRUE(runner().wait_until(
        [] { return p3964_fifo.count >= 2 && engine.line_error == 0; }, 5000,
        [] { p3964_fifo.count = 0; }));
    ASSERT_TRUE(runner().wait_steps(5, 5000));
    EXPECT_EQ(runner().query([] { return p3964_fifo.count; }), 0);
    ASSERT_TRUE(runner().between_steps([] { snd_set.state = SLOT_FREE; }));
    partner_answers({dle_to_stx(), to_closing_block()});
    stage_send_now({0x43});
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(5)), "02 " + hex(framed({0x43})));
}

TEST_F(LineErrorTest, ParityErrorHoldsTheEngineInRejectUntilAGoodByte)
{
    constexpr int32_t zvz = 200;
    open_line({.zvz = zvz});
    use_socket_line();
    start_engine();
    feed_then(PARITY_MARK, [] { stage_send({0x41}); });
    expect_error_entry(RC_PARITY);

    // NAKs only, and the send waits.
    EXPECT_EQ(hex(line(3)), "15 15 15");
    EXPECT_EQ(runner().query([] { return snd_set.state; }), SLOT_TAKEN);

    // One good byte: refused itself, then the line counts as silent again.
    partner_answers({dle_to_stx(), to_closing_block()});
    feed({0x41});
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(after_naks(), STX_BYTE);
    EXPECT_EQ(hex(line(4)), hex(framed({0x41})));
    runner().stop();

    // A NAK about every zvz plus 40 ms.
    const std::vector<int64_t> naks = step_times(ENGINE_REJECT, ENGINE_IDLE);
    ASSERT_GE(naks.size(), 3u);
    for (size_t i = 1; i < naks.size(); ++i) {
        EXPECT_GE(naks[i] - naks[i - 1], zvz);
    }
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
