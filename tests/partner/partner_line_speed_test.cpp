// SPDX-License-Identifier: MIT
// The partner on a pty that takes a real line's time (--line-speed): its
// bytes reach the server end no earlier than the wire would bring them,
// and it answers the server's bytes no earlier than they could have come
// across. Lower bounds only: a busy machine may make everything later.
#include <gtest/gtest.h>

#include "block_encoder.h"
#include "hex_text.h"
#include "server_end.h"
#include "wire_timing.h"

namespace partnertest {
namespace {

using Clock = std::chrono::steady_clock;

struct Speed {
    int baud;
    char parity;
};

void PrintTo(const Speed& speed, std::ostream* out)
{
    *out << speed.baud << " baud 8" << speed.parity << "1";
}

class PartnerLineSpeed : public PartnerTest, public ::testing::WithParamInterface<Speed> {
protected:
    void SetUp() override
    {
        start(fast_settings(), false);
        partner->line().emulate_speed(GetParam().baud, GetParam().parity);
        character = qopartner::character_time(GetParam().baud, GetParam().parity);
        partner->start();
    }

    // The earliest moment `characters` characters handed over at `from` can have come across.
    Clock::time_point after(Clock::time_point from, long characters) const { return from + character * characters; }

    std::chrono::nanoseconds character{};
};

const qopartner::Bytes telegram(100, 0x5A);

TEST_P(PartnerLineSpeed, OwnBytesGoOutOneCharacterTimeApart)
{
    const Clock::time_point queued = Clock::now();
    auto report = partner->send(telegram);
    ASSERT_EQ(server->read(1), "02");
    EXPECT_GE(Clock::now(), after(queued, 1));
    const Clock::time_point answered = Clock::now();
    server->write({0x10});
    // The DLE comes across before the block can start.
    const qopartner::Bytes block = qopartner::encode_block(telegram, true);
    for (size_t i = 0; i < block.size(); ++i) {
        ASSERT_EQ(server->read(1), qopartner::to_hex({block[i]})) << i;
        EXPECT_GE(Clock::now(), after(answered, static_cast<long>(i) + 2)) << "byte " << i;
    }
    server->write({0x10});
    EXPECT_EQ(outcome(report).outcome, qopartner::SendOutcome::acknowledged);
}

TEST_P(PartnerLineSpeed, ServerBytesAreAnsweredAfterTheirTimeOnTheWire)
{
    const Clock::time_point requested = Clock::now();
    server->write({0x02});
    ASSERT_EQ(server->read(1), "10");
    // STX over the wire, then DLE back.
    EXPECT_GE(Clock::now(), after(requested, 2));
    const qopartner::Bytes block = qopartner::encode_block(telegram, true);
    const Clock::time_point sent = Clock::now();
    server->write(block);
    ASSERT_EQ(server->read(1), "10");
    EXPECT_GE(Clock::now(), after(sent, static_cast<long>(block.size()) + 1));
    ASSERT_TRUE(partner->wait_received(std::chrono::seconds(5)));
}

INSTANTIATE_TEST_SUITE_P(Speeds, PartnerLineSpeed, ::testing::Values(Speed{9600, 'E'}, Speed{19200, 'N'}),
                         [](const ::testing::TestParamInfo<Speed>& info) {
                             return std::to_string(info.param.baud) + "8" + std::string(1, info.param.parity) + "1";
                         });

}  // namespace
}  // namespace partnertest
