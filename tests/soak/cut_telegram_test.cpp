// SPDX-License-Identifier: MIT
// A long telegram of the partner cut short by a pause longer than ZVZ
// after its first byte: the server gives up on it (-85, NAK), and the rest
// of the block reaches the server while it is idle.
#include <chrono>
#include <gtest/gtest.h>

#include "link_fixture.h"
#include "qo3964_client.h"
#include "telegram_source.h"

namespace qosoak {
namespace {

using namespace std::chrono_literals;

class CutTelegram : public LinkFixture {};

// The rest of the block is dropped while the server waits for ZVZ of quiet
// and answered with one NAK; the application's send starts right after.
TEST_F(CutTelegram, LongTelegramCutByAPauseDoesNotBlockTheLine)
{
    qopartner::PartnerSettings settings = link_partner_settings();
    settings.send_attempts = 6;
    bring_up(settings);
    const Bytes cut = TelegramSource(21).of_length(1500);
    partner->faults().arm(qopartner::Fault::pause, 1);
    std::future<qopartner::SendReport> report = partner->send(cut);
    ASSERT_TRUE(partner->wait_received(0ms) == std::nullopt);

    // The application sends meanwhile; the line is free again soon.
    const Bytes mine = {'m', 'i', 'n', 'e'};
    EXPECT_EQ(qo3964m_send(APP_HANDLE, mine.data(), static_cast<int>(mine.size()), 15), QO3964_SEND_DONE);
    ASSERT_EQ(report.wait_for(15s), std::future_status::ready);
    EXPECT_EQ(report.get().outcome, qopartner::SendOutcome::acknowledged);
    EXPECT_TRUE(fetch_telegram(cut, 5000));
}

}  // namespace
}  // namespace qosoak
