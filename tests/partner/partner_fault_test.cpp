// SPDX-License-Identifier: MIT
// Each fault produces exactly the bytes it promises; conflicts and echo.
#include <gtest/gtest.h>

#include "hex_text.h"
#include "server_end.h"

namespace partnertest {
namespace {

using namespace std::chrono_literals;
using qopartner::Fault;
using qopartner::parse_hex;
using qopartner::SendOutcome;
using qopartner::to_hex;

class PartnerFaults : public PartnerTest {
protected:
    uint64_t injected(Fault fault) const { return partner->stats().injected(fault); }

    // A correct telegram of the server reaches the partner.
    void deliver_ok(const char* block, const char* data)
    {
        send_block(block);
        EXPECT_EQ(to_hex(partner->wait_received(3s).value()), data);
    }
};

TEST_F(PartnerFaults, NakToStxOnceThenDle)
{
    start();
    partner->faults().arm(Fault::nak_to_stx, 1);
    server->write({0x02});
    EXPECT_EQ(server->read(1), "15");
    EXPECT_EQ(injected(Fault::nak_to_stx), 1u);
    deliver_ok("01 10 03 12", "01");
}

TEST_F(PartnerFaults, NakToEndTwiceRefusesCorrectTelegrams)
{
    start();
    partner->faults().arm(Fault::nak_to_end, 2);
    for (int i = 0; i < 2; ++i) {
        server->write({0x02});
        ASSERT_EQ(server->read(1), "10");
        server->write(*parse_hex("01 10 03 12"));
        EXPECT_EQ(server->read(1), "15");
    }
    EXPECT_FALSE(partner->wait_received(0ms));
    deliver_ok("01 10 03 12", "01");
    EXPECT_EQ(partner->stats().received, 1u);
    EXPECT_EQ(injected(Fault::nak_to_end), 2u);
}

TEST_F(PartnerFaults, SilentToStxAnswersNothing)
{
    start();
    partner->faults().arm(Fault::silent_to_stx, 1);
    server->write({0x02});
    ASSERT_TRUE(wait_until([&] { return injected(Fault::silent_to_stx) == 1; }));
    // The next STX gets the only answer on the line.
    server->write({0x02});
    EXPECT_EQ(server->read(1), "10");
    server->write(*parse_hex("01 10 03 12"));
    EXPECT_EQ(server->read_quiet(200), "10");
}

TEST_F(PartnerFaults, SilentToEndAnswersNothingAndKeepsTheTelegram)
{
    start();
    partner->faults().arm(Fault::silent_to_end, 1);
    server->write({0x02});
    ASSERT_EQ(server->read(1), "10");
    server->write(*parse_hex("01 10 03 12"));
    ASSERT_TRUE(wait_until([&] { return injected(Fault::silent_to_end) == 1; }));
    EXPECT_FALSE(partner->wait_received(0ms));
    // The repetition is answered, and the first answer on the line is its DLE.
    server->write({0x02});
    EXPECT_EQ(server->read(1), "10");
    server->write(*parse_hex("01 10 03 12"));
    EXPECT_EQ(server->read(1), "10");
    EXPECT_EQ(to_hex(partner->wait_received(3s).value()), "01");
    EXPECT_FALSE(partner->wait_received(0ms));
}

TEST_F(PartnerFaults, CorruptBccThenTheRepetitionIsRight)
{
    start();
    partner->faults().arm(Fault::corrupt_bcc, 1);
    auto report = partner->send({0x01, 0x10, 0x02});
    EXPECT_EQ(server->read(1), "02");
    server->write({0x10});
    EXPECT_EQ(server->read(7), "01 10 10 02 10 03 EF");  // 10 with every bit flipped
    server->write({0x15});
    accept_block("01 10 10 02 10 03 10");
    const qopartner::SendReport result = outcome(report);
    EXPECT_EQ(result.outcome, SendOutcome::acknowledged);
    EXPECT_EQ(result.attempts, 2);
    EXPECT_EQ(injected(Fault::corrupt_bcc), 1u);
}

TEST_F(PartnerFaults, PauseLongerThanZvzAfterTheFirstByte)
{
    qopartner::PartnerSettings settings = fast_settings();
    settings.pause_ms = 300;
    start(settings);
    partner->faults().arm(Fault::pause, 1);
    auto report = partner->send({0x01, 0x02, 0x03});
    EXPECT_EQ(server->read(1), "02");
    server->write({0x10});
    EXPECT_EQ(server->read(1), "01");
    const auto first = std::chrono::steady_clock::now();
    EXPECT_EQ(server->read(5), "02 03 10 03 13");
    EXPECT_GE(elapsed_ms(first), 270);
    server->write({0x10});
    EXPECT_EQ(outcome(report).outcome, SendOutcome::acknowledged);
}

TEST_F(PartnerFaults, StrayByteOnceAfterAQuietSpell)
{
    qopartner::PartnerSettings settings = fast_settings();
    settings.stray_byte = 0x55;
    settings.stray_quiet_ms = 150;
    const auto begun = std::chrono::steady_clock::now();  // the quiet spell starts after this
    start(settings);
    partner->faults().arm(Fault::stray_byte, 1);
    EXPECT_EQ(server->read(1), "55");
    EXPECT_GE(elapsed_ms(begun), 140);
    server->write({0x15});  // the server's answer is taken quietly
    EXPECT_EQ(server->read_quiet(500), "");
    EXPECT_EQ(injected(Fault::stray_byte), 1u);
}

TEST_F(PartnerFaults, StrayByteWithProbabilityOneKeepsComing)
{
    qopartner::PartnerSettings settings = fast_settings();
    settings.stray_quiet_ms = 100;
    start(settings);
    partner->faults().set_probability(Fault::stray_byte, 1.0);
    EXPECT_EQ(server->read(3), "41 41 41");
}

TEST_F(PartnerFaults, NakToStxWithProbabilityOne)
{
    start();
    partner->faults().set_probability(Fault::nak_to_stx, 1.0);
    for (int i = 0; i < 3; ++i) {
        server->write({0x02});
        EXPECT_EQ(server->read(1), "15");
    }
    EXPECT_EQ(injected(Fault::nak_to_stx), 3u);
}

TEST_F(PartnerFaults, ConflictAnswersStxWithStxAndSendsTheConflictTelegram)
{
    qopartner::PartnerSettings settings = fast_settings();
    settings.conflict_telegram = {0xC1};
    start(settings);
    partner->faults().arm(Fault::conflict, 1);
    server->write({0x02});
    EXPECT_EQ(server->read(1), "02");
    server->write({0x10});  // the server gives way
    EXPECT_EQ(server->read(4), "C1 10 03 D2");
    server->write({0x10});
    ASSERT_TRUE(wait_until([&] { return partner->stats().acknowledged == 1; }));
    EXPECT_EQ(partner->stats().conflicts, 1u);
    // Then the server's own telegram goes through.
    deliver_ok("07 10 03 14", "07");
}

class PartnerConflicts : public PartnerFaults {};

TEST_F(PartnerConflicts, HighPriorityWaitsOnForDle)
{
    start();
    auto report = partner->send({0x01});
    EXPECT_EQ(server->read(1), "02");
    server->write({0x02});  // the server's STX crosses the partner's
    ASSERT_TRUE(wait_until([&] { return partner->stats().conflicts == 1; }));
    server->write({0x10});  // the server gives way
    EXPECT_EQ(server->read(4), "01 10 03 12");  // no DLE came for the server's STX
    server->write({0x10});
    const qopartner::SendReport result = outcome(report);
    EXPECT_EQ(result.outcome, SendOutcome::acknowledged);
    EXPECT_EQ(result.attempts, 1);
}

TEST_F(PartnerConflicts, LowPriorityReceivesFirstThenSends)
{
    qopartner::PartnerSettings settings = fast_settings();
    settings.priority = qopartner::Priority::low;
    start(settings);
    auto report = partner->send({0x01});
    EXPECT_EQ(server->read(1), "02");
    server->write({0x02});  // the server's STX crosses the partner's
    EXPECT_EQ(server->read(1), "10");  // the partner gives way
    server->write(*parse_hex("05 10 03 16"));
    EXPECT_EQ(server->read(1), "10");
    EXPECT_EQ(to_hex(partner->wait_received(3s).value()), "05");
    accept_block("01 10 03 12");
    const qopartner::SendReport result = outcome(report);
    EXPECT_EQ(result.outcome, SendOutcome::acknowledged);
    EXPECT_EQ(result.attempts, 1);  // giving way is no failed attempt
}

TEST_F(PartnerConflicts, EchoSendsEveryTelegramBack)
{
    qopartner::PartnerSettings settings = fast_settings();
    settings.echo = true;
    start(settings);
    server->write({0x02});
    ASSERT_EQ(server->read(1), "10");
    server->write(*parse_hex("01 10 10 02 10 03 10"));
    EXPECT_EQ(server->read(1), "10");
    accept_block("01 10 10 02 10 03 10");
    EXPECT_TRUE(wait_until([&] { return partner->stats().acknowledged == 1; }));
}

}  // namespace
}  // namespace partnertest
