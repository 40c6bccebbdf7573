// SPDX-License-Identifier: MIT
// The partner as the receiving side: the test plays the server with raw bytes.
#include <gtest/gtest.h>

#include "hex_text.h"
#include "server_end.h"

namespace partnertest {
namespace {

using namespace std::chrono_literals;
using qopartner::parse_hex;
using qopartner::to_hex;

class PartnerReceives : public PartnerTest {};

TEST_F(PartnerReceives, AnswersStxAndAcknowledgesA3964RTelegram)
{
    start();
    server->write({0x02});
    EXPECT_EQ(server->read(1), "10");
    server->write(*parse_hex("01 10 10 02 10 03 10"));
    EXPECT_EQ(server->read(1), "10");
    const auto telegram = partner->wait_received(3s);
    ASSERT_TRUE(telegram);
    EXPECT_EQ(to_hex(*telegram), "01 10 02");
    EXPECT_EQ(partner->stats().received, 1u);
    EXPECT_EQ(server->read_quiet(150), "");  // nothing more on the line
}

TEST_F(PartnerReceives, A3964TelegramEndsAtDleEtx)
{
    qopartner::PartnerSettings settings = fast_settings();
    settings.bcc = false;
    start(settings);
    server->write({0x02});
    EXPECT_EQ(server->read(1), "10");
    server->write(*parse_hex("01 10 10 02 10 03"));
    EXPECT_EQ(server->read(1), "10");
    const auto telegram = partner->wait_received(3s);
    ASSERT_TRUE(telegram);
    EXPECT_EQ(to_hex(*telegram), "01 10 02");
}

TEST_F(PartnerReceives, EmptyTelegramAndByteFFAndOrderOfSeveral)
{
    start();
    for (const char* wire : {"10 03 13", "FF 10 03 EC", "41 42 10 03 10"}) {
        send_block(wire);
    }
    EXPECT_EQ(to_hex(partner->wait_received(3s).value()), "");
    EXPECT_EQ(to_hex(partner->wait_received(3s).value()), "FF");
    EXPECT_EQ(to_hex(partner->wait_received(3s).value()), "41 42");
}

TEST_F(PartnerReceives, CallbackTakesTelegramsBeforeTheDle)
{
    start(fast_settings(), false);
    std::vector<qopartner::Bytes> got;
    std::mutex mutex;
    partner->on_received([&](const qopartner::Bytes& telegram) {
        std::lock_guard lock(mutex);
        got.push_back(telegram);
    });
    partner->start();
    send_block("07 10 03 14");
    std::lock_guard lock(mutex);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(to_hex(got[0]), "07");
    EXPECT_FALSE(partner->wait_received(0ms));  // not also queued
}

TEST_F(PartnerReceives, WrongBccIsRefusedWithNak)
{
    start();
    server->write({0x02});
    ASSERT_EQ(server->read(1), "10");
    server->write(*parse_hex("01 10 10 02 10 03 11"));
    EXPECT_EQ(server->read(1), "15");
    EXPECT_EQ(partner->stats().rejected, 1u);
    EXPECT_EQ(partner->stats().received, 0u);
    EXPECT_FALSE(partner->wait_received(0ms));
    // The repetition is taken.
    send_block("01 10 10 02 10 03 10");
    EXPECT_EQ(to_hex(partner->wait_received(3s).value()), "01 10 02");
}

TEST_F(PartnerReceives, PauseLongerThanZvzIsAnsweredWithNak)
{
    start();
    server->write({0x02});
    ASSERT_EQ(server->read(1), "10");
    const auto sent = std::chrono::steady_clock::now();
    server->write(*parse_hex("01 02"));
    EXPECT_EQ(server->read(1), "15");
    EXPECT_GE(elapsed_ms(sent), 90);  // zvz is 100
    EXPECT_EQ(partner->stats().rejected, 1u);
    EXPECT_FALSE(partner->wait_received(0ms));
}

TEST_F(PartnerReceives, MissingBccIsAnsweredWithNakAfterZvz)
{
    start();
    server->write({0x02});
    ASSERT_EQ(server->read(1), "10");
    const auto sent = std::chrono::steady_clock::now();
    server->write(*parse_hex("01 10 03"));
    EXPECT_EQ(server->read(1), "15");
    EXPECT_GE(elapsed_ms(sent), 90);
    EXPECT_FALSE(partner->wait_received(0ms));
}

TEST_F(PartnerReceives, DleFollowedByAnotherByteIsRefusedAtTheEnd)
{
    start();
    server->write({0x02});
    ASSERT_EQ(server->read(1), "10");
    server->write(*parse_hex("01 10 41 02 10 03 41"));  // the BCC covers 10 41
    EXPECT_EQ(server->read(1), "15");
    EXPECT_EQ(partner->stats().rejected, 1u);
    EXPECT_FALSE(partner->wait_received(0ms));
}

TEST_F(PartnerReceives, TelegramLongerThanMaxLengthIsRefused)
{
    qopartner::PartnerSettings settings = fast_settings();
    settings.max_length = 3;
    start(settings);
    server->write({0x02});
    ASSERT_EQ(server->read(1), "10");
    server->write(*parse_hex("01 02 03 04 10 03 17"));
    EXPECT_EQ(server->read(1), "15");
    EXPECT_FALSE(partner->wait_received(0ms));
}

TEST_F(PartnerReceives, LongTelegramOfDles)
{
    start();
    qopartner::Bytes wire(2 * 3000, 0x10);
    for (const uint8_t b : {0x10, 0x03, 0x13}) {
        wire.push_back(b);
    }
    server->write({0x02});
    ASSERT_EQ(server->read(1), "10");
    server->write(wire);
    EXPECT_EQ(server->read(1), "10");
    EXPECT_EQ(partner->wait_received(3s).value(), qopartner::Bytes(3000, 0x10));
}

TEST_F(PartnerReceives, StrayByteInIdleGetsNakAfterQuietZvzButNakGetsNothing)
{
    start();
    const auto sent = std::chrono::steady_clock::now();
    server->write({0x41});
    EXPECT_EQ(server->read(1), "15");
    EXPECT_GE(elapsed_ms(sent), 90);
    server->write({0x15});
    ASSERT_TRUE(wait_until([&] { return partner->stats().stray == 2; }));
    // The next STX is answered with DLE: no NAK came for the NAK.
    server->write({0x02});
    EXPECT_EQ(server->read(1), "10");
}

}  // namespace
}  // namespace partnertest
