// SPDX-License-Identifier: MIT
// Unexpected bytes and line errors read in idle. BREAK and parity errors
// come as the terminal driver's PARMRK markings on a socket in place of
// the pty, which cannot produce them.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "link.h"
#include "result_codes.h"

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
    EXPECT_EQ(runner().query([&] { return link().p3964_fifo.count; }), 0);
}

// A BREAK fails the send pending at that moment and is reported once; the
// next send goes out as soon as the line is silent again.
TEST_F(LineErrorTest, BreakFailsThePendingSendOnceAndIsReportedOnce)
{
    open_line({.zvz = 200});
    use_socket_line();
    start_engine();
    feed_then(BREAK_MARK, [&] { stage_send({0x41}); });
    EXPECT_EQ(send_result(), RC_BREAK);
    expect_error_entry(RC_BREAK);
    EXPECT_EQ(hex(line(1)), "15");

    ASSERT_TRUE(runner().between_steps([&] { link().snd_set.state = SLOT_FREE; }));
    partner_answers({dle_to_stx(), to_closing_block()});
    stage_send_now({0x42});
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(5)), "02 " + hex(framed({0x42})));
    EXPECT_EQ(runner().query([&] { return link().p3964_fifo.count; }), 0);
}

// A parity error is reported once and answered with one NAK; the pending
// send then goes out without a good byte from the partner.
TEST_F(LineErrorTest, ParityErrorIsReportedOnceAndTheSendGoesOut)
{
    open_line({.zvz = 200});
    use_socket_line();
    start_engine();
    partner_answers({dle_to_stx(), to_closing_block()});
    feed_then(PARITY_MARK, [&] { stage_send({0x41}); });
    expect_error_entry(RC_PARITY);
    EXPECT_EQ(send_result(), RC_OK);
    EXPECT_EQ(hex(line(6)), "15 02 " + hex(framed({0x41})));
    EXPECT_TRUE(line_quiet(600)) << "no NAK stream";
    EXPECT_EQ(runner().query([&] { return link().p3964_fifo.count; }), 0);
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

// Bytes of the partner, and how long the test waits after writing them
// (AWAIT_DLE: until the engine has answered DLE).
struct Part {
    Bytes bytes;
    int wait_ms = 0;
};
constexpr int AWAIT_DLE = -1;
constexpr int32_t QUIET_ZVZ = 200;
// Well past zvz, so that the engine has given up on a cut telegram before
// its rest comes, on a loaded machine too.
constexpr int CUT_PAUSE_MS = 1000;

struct NoRequestCase {
    const char* name;
    int32_t bcc_mode;
    std::vector<Part> parts;
};

void PrintTo(const NoRequestCase& c, std::ostream* out)
{
    *out << c.name;
}

// No STX in noise, in the rest of a telegram given up on, or right in
// front of other bytes is a connection request: nothing of it is answered
// with DLE or queued. Once the line has been quiet, a lone STX is one.
class NoRequestTest : public LineErrorTest, public ::testing::WithParamInterface<NoRequestCase> {};

TEST_P(NoRequestTest, NothingButALoneStxAfterQuietStartsATelegram)
{
    const NoRequestCase& c = GetParam();
    open_line({.tdr = 6, .zvz = QUIET_ZVZ, .bcc_mode = c.bcc_mode});
    start_engine();
    for (const Part& part : c.parts) {
        feed(part.bytes);
        if (part.wait_ms == AWAIT_DLE) {
            ASSERT_EQ(hex(line(1)), "10");
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(part.wait_ms));
        }
    }
    const Bytes answers = read_until_quiet(partner(), QUIET_ZVZ + 400, 10000);
    EXPECT_EQ(std::count(answers.begin(), answers.end(), 0x10), 0) << hex(answers);
    EXPECT_FALSE(answers.empty()) << "no NAK";
    wait_state(ENGINE_IDLE);
    EXPECT_EQ(runner().query([&] { return link().p3964_fifo.count; }), 0);

    partner_sends(framed({0x01, 0x02, 0x03}, c.bcc_mode));
    EXPECT_EQ(hex(line(2)), "10 10");
    ASSERT_TRUE(wait_entries(1));
    EXPECT_EQ(hex(pop_entry_now().data), "01 02 03");
}

Bytes cut_after_first(const Bytes& block, bool first)
{
    return first ? Bytes(block.begin(), block.begin() + 1) : Bytes(block.begin() + 1, block.end());
}

const Bytes CUT_3964R = framed({0x02, 0x02, 0x41, 0x42, 0x43}, 1);  // the two 02 cancel in the check
const Bytes CUT_3964 = framed({0x11, 0x02, 0x33, 0x44, 0x55}, 0);

INSTANTIATE_TEST_SUITE_P(
    Cases, NoRequestTest,
    ::testing::Values(
        NoRequestCase{"StxInNoise", 1, {{{0x41, 0x42, STX_BYTE, 0x43}}}},
        NoRequestCase{"StxEndingNoise", 1, {{{0x41, 0x42, 0x43, STX_BYTE}}}},
        NoRequestCase{"StxFollowedByBytes", 1, {{{STX_BYTE, 0x41, 0x42}}}},
        NoRequestCase{"RestOfACutTelegram3964R", 1,
                      {{{STX_BYTE}, AWAIT_DLE}, {cut_after_first(CUT_3964R, true), CUT_PAUSE_MS},
                       {cut_after_first(CUT_3964R, false)}}},
        NoRequestCase{"RestOfACutTelegram3964", 0,
                      {{{STX_BYTE}, AWAIT_DLE}, {cut_after_first(CUT_3964, true), CUT_PAUSE_MS},
                       {cut_after_first(CUT_3964, false)}}}),
    [](const ::testing::TestParamInfo<NoRequestCase>& info) { return std::string(info.param.name); });

// A line that never falls quiet for zvz (a byte every 100 ms) must not
// starve a send: it ends within its attempts, and the next send after the
// noise goes through.
TEST_F(LineErrorTest, PeriodicNoiseDoesNotStarveASend)
{
    constexpr Procedure settings{.tds = 2, .zvz = 220, .qvz = 400};
    open_line(settings);
    start_engine();
    std::atomic<bool> noisy{true};
    std::thread noise([&] {
        while (noisy) {
            feed({0x41});
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    stage_send_now({0x42});
    const int32_t result = send_result(settings.tds * (settings.qvz + settings.zvz) + 5000);
    noisy = false;
    noise.join();
    EXPECT_EQ(result, RC_NO_CONNECT);

    wait_state(ENGINE_IDLE);
    drain(partner());
    partner_answers({dle_to_stx(), to_closing_block()});
    stage_send_now({0x43});
    EXPECT_EQ(send_result(), RC_OK);
}

TEST_F(LineErrorTest, LineErrorInsideATelegramIsABccError)
{
    open_line({});
    use_socket_line();
    start_engine();
    // 01, a character with a parity error, 02: the check itself is right.
    const Bytes body{0x01, 0x41, 0x02, 0x10, 0x03};
    partner_sends(Bytes{0x01} + PARITY_MARK + Bytes{0x02, 0x10, 0x03, block_check(body)});
    EXPECT_EQ(hex(line(2)), "10 15");
    expect_error_entry(RC_RX_BCC);
}

TEST_F(LineErrorTest, DataByteFfArrivesDoubledAndIsData)
{
    open_line({});
    use_socket_line();
    start_engine();
    partner_sends(Bytes{0xFF, 0xFF, 0x10, 0x03, 0xFF ^ 0x13});
    EXPECT_EQ(hex(line(2)), "10 10");
    ASSERT_TRUE(wait_entries(1));
    EXPECT_EQ(hex(pop_entry_now().data), "FF");
}

}  // namespace
