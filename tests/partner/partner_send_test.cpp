// SPDX-License-Identifier: MIT
// The partner as the sending side: the test plays the server with raw bytes.
#include <gtest/gtest.h>

#include "hex_text.h"
#include "server_end.h"

namespace partnertest {
namespace {

using namespace std::chrono_literals;
using qopartner::SendOutcome;
using qopartner::SendReport;

class PartnerSends : public PartnerTest {};

TEST_F(PartnerSends, ConnectsDoublesDleAndEndsWithTheBcc)
{
    start();
    auto report = partner->send({0x01, 0x10, 0x02});
    EXPECT_EQ(server->read(1), "02");
    server->write({0x10});
    EXPECT_EQ(server->read(7), "01 10 10 02 10 03 10");
    server->write({0x10});
    const SendReport result = outcome(report);
    EXPECT_EQ(result.outcome, SendOutcome::acknowledged);
    EXPECT_EQ(result.attempts, 1);
    EXPECT_EQ(partner->stats().acknowledged, 1u);
    EXPECT_EQ(server->read_quiet(150), "");
}

TEST_F(PartnerSends, In3964ModeWithoutBcc)
{
    qopartner::PartnerSettings settings = fast_settings();
    settings.bcc = false;
    start(settings);
    auto report = partner->send({0x01, 0x10, 0x02});
    EXPECT_EQ(server->read(1), "02");
    server->write({0x10});
    EXPECT_EQ(server->read_quiet(150), "01 10 10 02 10 03");
    server->write({0x10});
    EXPECT_EQ(outcome(report).outcome, SendOutcome::acknowledged);
}

TEST_F(PartnerSends, EmptyTelegramAndByteFFWrittenOnce)
{
    start();
    auto empty = partner->send({});
    auto ff = partner->send({0xFF});
    accept_block("10 03 13");
    EXPECT_EQ(outcome(empty).outcome, SendOutcome::acknowledged);
    EXPECT_EQ(server->read(1), "02");
    server->write({0x10});
    EXPECT_EQ(server->read_quiet(150), "FF 10 03 EC");
    server->write({0x10});
    EXPECT_EQ(outcome(ff).outcome, SendOutcome::acknowledged);
}

TEST_F(PartnerSends, LongTelegramOfDles)
{
    start();
    auto report = partner->send(qopartner::Bytes(3000, 0x10));
    EXPECT_EQ(server->read(1), "02");
    server->write({0x10});
    const std::string wire = server->read(6003);
    ASSERT_EQ(wire.size(), 6003u * 3 - 1);
    EXPECT_EQ(wire.substr(wire.size() - 8), "10 03 13");
    EXPECT_EQ(wire.find_first_not_of("10 "), wire.size() - 4);  // only DLEs before 03 13
    server->write({0x10});
    EXPECT_EQ(outcome(report).outcome, SendOutcome::acknowledged);
}

TEST_F(PartnerSends, NakToTheBlockIsRepeatedAfterTheRetryDelay)
{
    start();
    auto report = partner->send({0x01});
    EXPECT_EQ(server->read(1), "02");
    server->write({0x10});
    EXPECT_EQ(server->read(4), "01 10 03 12");
    server->write({0x15});
    const auto refused = std::chrono::steady_clock::now();
    EXPECT_EQ(server->read(1), "02");
    EXPECT_GE(elapsed_ms(refused), 180);  // 2 x zvz of quiet
    server->write({0x10});
    EXPECT_EQ(server->read(4), "01 10 03 12");
    server->write({0x10});
    const SendReport result = outcome(report);
    EXPECT_EQ(result.outcome, SendOutcome::acknowledged);
    EXPECT_EQ(result.attempts, 2);
    EXPECT_EQ(partner->stats().refused, 1u);
    EXPECT_EQ(partner->stats().sent, 2u);
}

TEST_F(PartnerSends, NakToStxIsAFailedAttempt)
{
    start();
    auto report = partner->send({0x01});
    EXPECT_EQ(server->read(1), "02");
    server->write({0x15});
    accept_block("01 10 03 12");
    const SendReport result = outcome(report);
    EXPECT_EQ(result.outcome, SendOutcome::acknowledged);
    EXPECT_EQ(result.attempts, 2);
}

TEST_F(PartnerSends, UnansweredStxGivesUpAfterAllAttemptsWithNak)
{
    start();  // 3 attempts, qvz 400
    const auto begun = std::chrono::steady_clock::now();
    auto report = partner->send({0x01});
    EXPECT_EQ(server->read(1), "02");
    EXPECT_EQ(server->read(1), "02");
    EXPECT_EQ(server->read(1), "02");
    EXPECT_EQ(server->read(1), "15");
    EXPECT_GE(elapsed_ms(begun), 3 * 400);
    const SendReport result = outcome(report);
    EXPECT_EQ(result.outcome, SendOutcome::no_connection);
    EXPECT_EQ(result.attempts, 3);
    EXPECT_EQ(partner->stats().failed, 1u);
}

TEST_F(PartnerSends, UnansweredBlockIsNoAcknowledgement)
{
    qopartner::PartnerSettings settings = fast_settings();
    settings.send_attempts = 1;
    start(settings);
    auto report = partner->send({0x01});
    EXPECT_EQ(server->read(1), "02");
    server->write({0x10});
    EXPECT_EQ(server->read(4), "01 10 03 12");
    const auto written = std::chrono::steady_clock::now();
    EXPECT_EQ(server->read(1), "15");
    EXPECT_GE(elapsed_ms(written), 380);  // qvz is 400
    EXPECT_EQ(outcome(report).outcome, SendOutcome::no_acknowledgement);
}

TEST_F(PartnerSends, SendsQueuedBeforeStartGoInOrder)
{
    start(fast_settings(), false);
    auto first = partner->send({0x01});
    auto second = partner->send({0x02});
    EXPECT_EQ(server->read_quiet(150), "");
    partner->start();
    accept_block("01 10 03 12");
    accept_block("02 10 03 11");
    EXPECT_EQ(outcome(first).outcome, SendOutcome::acknowledged);
    EXPECT_EQ(outcome(second).outcome, SendOutcome::acknowledged);
}

TEST_F(PartnerSends, StopEndsAWaitAtOnceAndTheSendIsStopped)
{
    qopartner::PartnerSettings settings = fast_settings();
    settings.qvz_ms = 60000;
    start(settings);
    auto report = partner->send({0x01});
    auto queued = partner->send({0x02});
    EXPECT_EQ(server->read(1), "02");
    const auto stopping = std::chrono::steady_clock::now();
    partner->stop();
    EXPECT_LT(elapsed_ms(stopping), settings.qvz_ms / 4);
    EXPECT_FALSE(partner->running());
    EXPECT_EQ(outcome(report).outcome, SendOutcome::stopped);
    EXPECT_EQ(outcome(queued).outcome, SendOutcome::stopped);
}

TEST_F(PartnerSends, ServerStxInPlaceOfTheAcknowledgementIsAnswered)
{
    start();
    auto report = partner->send({0x01});
    EXPECT_EQ(server->read(1), "02");
    server->write({0x10});
    EXPECT_EQ(server->read(4), "01 10 03 12");
    // The server gave the block up and wants to send itself.
    send_block("05 10 03 16");
    EXPECT_EQ(qopartner::to_hex(partner->wait_received(3s).value()), "05");
    // Then the partner repeats its own telegram.
    accept_block("01 10 03 12");
    const SendReport result = outcome(report);
    EXPECT_EQ(result.outcome, SendOutcome::acknowledged);
    EXPECT_EQ(result.attempts, 2);
}

}  // namespace
}  // namespace partnertest

namespace partnertest {
namespace {

using namespace std::chrono_literals;

class PartnerScripted : public PartnerTest {};

TEST_F(PartnerScripted, LineWritesAndReadsExactBytesWhileTheLoopIsStopped)
{
    start(fast_settings(), false);
    qopartner::PartnerLine& line = partner->line();
    ASSERT_TRUE(line.write({0x02, 0xFF}));
    EXPECT_EQ(server->read(2), "02 FF");
    server->write({0x10, 0x15, 0x41});
    EXPECT_EQ(qopartner::to_hex(line.read_bytes(2, 3000)), "10 15");
    EXPECT_EQ(qopartner::to_hex(line.read_until_quiet(100, 3000)), "41");
    EXPECT_EQ(line.read_byte(0), qopartner::LINE_TIMEOUT);
    server->write({0x42});
    ASSERT_TRUE(wait_until([&] { return line.read_byte(0) == 0x42; }));
}

TEST_F(PartnerScripted, SendAndWaitGivesTheOutcomeOrNothingInTime)
{
    start();
    EXPECT_FALSE(partner->send_and_wait({0x01}, 100ms));  // the server has not answered yet
    EXPECT_EQ(server->read(1), "02");
    server->write({0x10});
    EXPECT_EQ(server->read(4), "01 10 03 12");
    server->write({0x10});
    ASSERT_TRUE(wait_until([&] { return partner->stats().acknowledged == 1; }));
    auto second = std::async(std::launch::async, [&] { return partner->send_and_wait({0x02}, 5s); });
    accept_block("02 10 03 11");
    const auto report = second.get();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->outcome, qopartner::SendOutcome::acknowledged);
}

}  // namespace
}  // namespace partnertest
