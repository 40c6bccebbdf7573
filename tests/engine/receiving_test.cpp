// SPDX-License-Identifier: MIT
// Receiving: DLE answers, DLE doubling, the block check, the character
// delay time, overflow and the reporting of failed receptions.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "link.h"
#include "result_codes.h"
#include "serial_line.h"

using namespace qo3964;

namespace {

using namespace qotest;
using Clock = std::chrono::steady_clock;

constexpr uint8_t STX_BYTE = 0x02;

class ReceivingTest : public EngineLineTest {};

TEST_F(ReceivingTest, DoubledDleIsOneDataByte)
{
    open_line({});
    start_engine();
    partner_answers({{ENGINE_RX_BODY, {0x01, 0x10, 0x10, 0x02, 0x10, 0x03, 0x10}}});
    feed({STX_BYTE});
    ASSERT_TRUE(wait_entries(1));
    EXPECT_EQ(hex(line(2)), "10 10");
    const Entry entry = pop_entry_now();
    EXPECT_EQ(hex(entry.data), "01 10 02");
    EXPECT_EQ(entry.status, RC_OK);
    EXPECT_EQ(entry.state, SLOT_DONE);
    EXPECT_TRUE(line_quiet(200));
}

TEST_F(ReceivingTest, Mode3964ReadsNoBcc)
{
    open_line({.bcc_mode = 0});
    start_engine();
    partner_sends(framed({0x01, 0x10, 0x02}, 0));
    EXPECT_EQ(hex(line(2)), "10 10");
    ASSERT_TRUE(wait_entries(1));
    EXPECT_EQ(hex(pop_entry_now().data), "01 10 02");
}

// A DLE inside data comes doubled; a lone one is a byte lost or changed on
// the line. The telegram is refused at once, whatever its block check says
// (in 3964 mode there is none), and the repetition recovers it whole.
TEST_F(ReceivingTest, LoneDleInDataIsRefusedAndTheRepetitionRecoversIt)
{
    const Bytes cut{0x01, 0x10, 0x41, 0x02, 0x10, 0x03};  // one DLE of a pair lost
    for (const int32_t bcc_mode : {1, 0}) {
        SCOPED_TRACE(bcc_mode);
        open_line({.tdr = 6, .zvz = 300, .bcc_mode = bcc_mode});
        start_engine();
        partner_sends(bcc_mode != 0 ? cut + Bytes{block_check(cut)} : cut);
        EXPECT_EQ(hex(line(2)), "10 15");
        wait_state(ENGINE_IDLE);
        const Bytes whole{0x01, 0x10, 0x41, 0x02};
        partner_sends(framed(whole, bcc_mode));
        EXPECT_EQ(hex(line(2)), "10 10");
        ASSERT_TRUE(wait_entries(1));
        const Entry entry = pop_entry_now();
        EXPECT_EQ(entry.data, whole);
        EXPECT_EQ(entry.status, RC_OK);
        reset_link();
        drain(partner());
    }
}

// The partner's repetition recovered the failure: the telegram reaches the
// client with its good status, and nothing else does.
TEST_F(ReceivingTest, WrongBccIsRefusedAndTheRepetitionIsAGoodTelegram)
{
    open_line({.tdr = 6, .zvz = 300});
    start_engine();
    const Bytes bad = with_wrong_bcc({0x01, 0x02});
    partner_sends(bad);
    EXPECT_EQ(hex(line(2)), "10 15");
    const auto [count, status] = runner().query(
        [&] { return std::pair{link().p3964_fifo.count, link().transfer.rx_status}; });
    EXPECT_EQ(count, 0);
    EXPECT_EQ(status, 0);

    wait_state(ENGINE_IDLE);
    partner_sends(framed({0x01, 0x02}));
    EXPECT_EQ(hex(line(2)), "10 10");
    ASSERT_TRUE(wait_entries(1));
    const Entry entry = pop_entry_now();
    EXPECT_EQ(hex(entry.data), "01 02");
    EXPECT_EQ(entry.status, RC_OK);
    EXPECT_EQ(runner().query([&] { return link().p3964_fifo.count; }), 0);
}

TEST_F(ReceivingTest, TdrFailuresInARowGiveAnEmptyEntry)
{
    open_line({.tdr = 3, .zvz = 300});
    start_engine();
    const Bytes bad = with_wrong_bcc({0x41});
    for (int failure = 1; failure <= 3; ++failure) {
        SCOPED_TRACE(failure);
        wait_state(ENGINE_IDLE);
        partner_sends(bad);
        ASSERT_EQ(hex(line(2)), "10 15");
        const int32_t expected = failure < 3 ? 0 : 1;
        EXPECT_EQ(runner().query([&] { return link().p3964_fifo.count; }), expected);
    }
    expect_error_entry(RC_RX_BCC);

    wait_state(ENGINE_IDLE);
    partner_sends(framed({0x41}));
    EXPECT_EQ(hex(line(2)), "10 10");
    ASSERT_TRUE(wait_entries(1));
    EXPECT_EQ(pop_entry_now().status, RC_OK);
}

TEST_F(ReceivingTest, GoodTelegramBreaksTheRowOfFailures)
{
    open_line({.tdr = 2, .zvz = 300});
    start_engine();
    const Bytes bad = with_wrong_bcc({0x41});
    partner_sends(bad);
    ASSERT_EQ(hex(line(2)), "10 15");
    wait_state(ENGINE_IDLE);
    partner_sends(framed({0x41}));
    ASSERT_EQ(hex(line(2)), "10 10");
    partner_sends(bad);
    ASSERT_EQ(hex(line(2)), "10 15");
    // One good telegram, no empty entry.
    const std::vector<Entry> held = entries();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(hex(held[0].data), "41");
    EXPECT_EQ(held[0].status, RC_OK);
}

TEST_F(ReceivingTest, LongestTelegramIsAccepted)
{
    open_line({});
    start_engine();
    Bytes data = pattern(TELEGRAM_MAX);
    data.back() = 0x10;  // a doubled DLE as the very last data byte
    partner_sends(framed(data));
    EXPECT_EQ(hex(line(2, 10000)), "10 10");
    ASSERT_TRUE(wait_entries(1));
    const Entry entry = pop_entry_now();
    EXPECT_EQ(entry.data, data);
    EXPECT_EQ(entry.status, RC_OK);
}

TEST_F(ReceivingTest, OverflowGetsNoAnswerAndTheRestIsRefusedInIdle)
{
    constexpr int32_t zvz = 1500;
    open_line({.zvz = zvz});
    start_engine();
    // 4097 data bytes end the reception; the 4098th meets the idle state.
    const Clock::time_point start = Clock::now();
    partner_sends(Bytes(TELEGRAM_MAX + 2, 0x41));
    expect_error_entry(RC_RX_OVERFLOW);
    EXPECT_EQ(hex(line(1)), "10");
    EXPECT_EQ(hex(line(1)), "15");
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
              zvz - 20);
    EXPECT_TRUE(line_quiet(300));
}

TEST_F(ReceivingTest, PauseLongerThanZvzIsRefused)
{
    constexpr int32_t zvz = 300;
    open_line({.zvz = zvz});
    start_engine();
    const Clock::time_point start = Clock::now();
    partner_sends({0x01, 0x02});
    EXPECT_EQ(hex(line(1)), "10");
    EXPECT_EQ(hex(line(1)), "15");
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
              zvz - 20);
    expect_error_entry(RC_RX_ZVZ);
}

TEST_F(ReceivingTest, PauseAfterADleIsRefusedToo)
{
    open_line({.zvz = 200});
    start_engine();
    partner_sends({0x01, 0x10});
    EXPECT_EQ(hex(line(2)), "10 15");
    expect_error_entry(RC_RX_ZVZ);
}

TEST_F(ReceivingTest, MissingBccIsRefused)
{
    open_line({.zvz = 200});
    start_engine();
    partner_sends({0x01, 0x10, 0x03});
    EXPECT_EQ(hex(line(2)), "10 15");
    expect_error_entry(RC_RX_NO_BCC);
}

TEST_F(ReceivingTest, TelegramSpreadOverSeveralWindowsIsReceived)
{
    open_line({.zvz = 3000});
    use_socket_line();
    start_engine();
    partner_answers({{ENGINE_RX_BODY, {}}});
    feed({STX_BYTE});
    answers_given();
    // The partner's pauses are the stimulus here: each byte comes 300 ms
    // after the engine took the one before, so that the engine waits for
    // each on its own even when it runs late, and well under zvz.
    for (uint8_t byte : framed({0x01, 0x02, 0x03})) {
        feed({byte});
        ASSERT_TRUE(engine_took_everything());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    ASSERT_TRUE(wait_entries(1));
    EXPECT_EQ(hex(pop_entry_now().data), "01 02 03");
    EXPECT_EQ(hex(line(2)), "10 10");
    runner().stop();
    EXPECT_GE(step_times(ENGINE_RX_BODY, ENGINE_RX_BODY).size(), 2u);
}

TEST_F(ReceivingTest, NulDataByteIsData)
{
    open_line({});
    start_engine();
    partner_sends(framed({0x00, 0x41, 0x00}));
    EXPECT_EQ(hex(line(2)), "10 10");
    ASSERT_TRUE(wait_entries(1));
    const Entry entry = pop_entry_now();
    EXPECT_EQ(hex(entry.data), "00 41 00");
    EXPECT_EQ(entry.status, RC_OK);
}

}  // namespace
