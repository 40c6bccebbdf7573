// SPDX-License-Identifier: MIT
// A partner that floods the line with noise for a while and then sends a
// good telegram: the telegram must get through, possibly after retries.
//
// The noise holds no DLE, so that no DLE ETX can end a reception that an
// STX in the noise starts: such a block's check would match by chance once
// in 256 times and hand the application a telegram nobody sent.
#include <chrono>
#include <gtest/gtest.h>
#include <random>
#include <thread>

#include "link_fixture.h"
#include "telegram_source.h"

namespace qosoak {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint8_t STX = 0x02;
constexpr uint8_t DLE = 0x10;
// A pace of about 9600 bit/s: one byte a millisecond, written ten at a time.
constexpr size_t NOISE_CHUNK = 10;
constexpr auto NOISE_PAUSE = 10ms;

class LineNoise : public LinkFixture {
protected:
    // The partner retries generously: its first attempts may drown in the
    // server's answers to the noise.
    static qopartner::PartnerSettings patient()
    {
        qopartner::PartnerSettings settings = link_partner_settings();
        settings.send_attempts = 6;
        return settings;
    }

    // `count` random bytes without DLE; STX only where `stx_every` says
    // (every n-th byte, starting with the first; 0 for none).
    static Bytes noise(size_t count, size_t stx_every)
    {
        std::mt19937 random(7);
        Bytes bytes(count);
        for (size_t i = 0; i < count; ++i) {
            uint8_t byte = 0;
            do {
                byte = static_cast<uint8_t>(random());
            } while (byte == DLE || byte == STX);
            bytes[i] = (stx_every > 0 && i % stx_every == 0) ? STX : byte;
        }
        return bytes;
    }

    // The partner's loop is not running yet: the noise goes straight onto
    // the line, at a serial line's pace.
    void flood(const Bytes& bytes)
    {
        for (size_t at = 0; at < bytes.size(); at += NOISE_CHUNK) {
            const size_t end = std::min(bytes.size(), at + NOISE_CHUNK);
            ASSERT_TRUE(partner->line().write(Bytes(bytes.begin() + at, bytes.begin() + end), 2000));
            std::this_thread::sleep_for(NOISE_PAUSE);
        }
    }

    // After the noise, the partner sends a good telegram; it must be
    // acknowledged and reach the application intact within `limit`,
    // with nothing but status entries before it.
    void good_telegram_gets_through(std::chrono::milliseconds limit)
    {
        const Bytes good = TelegramSource(11).of_length(300);
        const auto begun = Clock::now();
        partner->start();
        const std::optional<qopartner::SendReport> report = partner->send_and_wait(good, limit);
        ASSERT_TRUE(report) << "no outcome within " << limit.count() << " ms";
        EXPECT_EQ(report->outcome, qopartner::SendOutcome::acknowledged);
        std::vector<AppEntry> before;
        EXPECT_TRUE(fetch_telegram(good, 5000, &before));
        expect_status_entries_only(before);
        const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
        std::fprintf(stderr, "through after %.1f s and %d attempts; %zu status entries before it\n", seconds,
                     report->attempts, before.size());
        EXPECT_TRUE(server->process().running());
    }
};

// A short burst without STX: the server drops the bytes, answers one NAK
// after ZVZ of quiet, and then takes the telegram.
TEST_F(LineNoise, BurstWithoutStxThenATelegramGetsThrough)
{
    bring_up(patient(), false);
    const Bytes burst = noise(40, 0);
    flood(burst);
    good_telegram_gets_through(std::chrono::milliseconds(burst.size() * (LINK_ZVZ_MS + 100) + 10000));
}

// A second of noise that begins with an STX and holds more: the server
// takes the noise for a telegram, refuses it once the noise stops (ZVZ),
// and then takes the good telegram.
TEST_F(LineNoise, SecondOfNoiseWithStxThenATelegramGetsThrough)
{
    bring_up(patient(), false);
    flood(noise(1000, 97));
    good_telegram_gets_through(15s);
}

// A second of noise without STX: dropped as it comes, one NAK ZVZ after
// it ends, and the line is free again.
TEST_F(LineNoise, SecondOfNoiseWithoutStxThenATelegramGetsThroughSoon)
{
    bring_up(patient(), false);
    flood(noise(1000, 0));
    good_telegram_gets_through(15s);
}

}  // namespace
}  // namespace qosoak
