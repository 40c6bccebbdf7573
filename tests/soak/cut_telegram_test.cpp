// SPDX-License-Identifier: MIT
// Telegrams of the partner cut short by a pause longer than ZVZ after
// their first byte: the server gives up on the telegram (-85, NAK), and
// the rest of the block reaches it later. The rest is no telegram of its
// own, whatever STX it holds; the partner's repetition is.
#include <chrono>
#include <gtest/gtest.h>

#include "link_fixture.h"
#include "qo3964_client.h"
#include "telegram_source.h"

namespace qosoak {
namespace {

using namespace std::chrono_literals;

struct CutCase {
    const char* name;
    bool bcc;
    Bytes telegram;
};

void PrintTo(const CutCase& c, std::ostream* out)
{
    *out << c.name;
}

class CutTelegram : public LinkFixture, public ::testing::WithParamInterface<CutCase> {};

// The application gets the telegram once, whole, and no fragment of it.
TEST_P(CutTelegram, RestIsNoTelegramAndTheRepetitionArrivesOnce)
{
    const CutCase& c = GetParam();
    qopartner::PartnerSettings settings = link_partner_settings();
    settings.bcc = c.bcc;
    settings.send_attempts = 6;
    settings.pause_ms = 500;  // the rest comes after the server has given up and gone idle
    bring_up(settings, true, c.bcc ? "" : "BCC_MODE 0\n");
    partner->faults().arm(qopartner::Fault::pause, 1);
    const std::optional<qopartner::SendReport> report = partner->send_and_wait(c.telegram, 15s);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->outcome, qopartner::SendOutcome::acknowledged);
    std::vector<AppEntry> before;
    EXPECT_TRUE(fetch_telegram(c.telegram, 5000, &before));
    expect_status_entries_only(before);
    EXPECT_FALSE(fetch(2 * LINK_QVZ_MS)) << "a second entry";
}

INSTANTIATE_TEST_SUITE_P(
    BothModes, CutTelegram,
    ::testing::Values(CutCase{"Mode3964R", true, {0x02, 0x02, 0x41, 0x42, 0x43}},  // the two 02 cancel in the check
                      CutCase{"Mode3964", false, {0x11, 0x02, 0x33, 0x44, 0x55}}),
    [](const ::testing::TestParamInfo<CutCase>& info) { return std::string(info.param.name); });

// A long telegram cut the same way does not block the line: the
// application's send goes through meanwhile.
TEST_F(CutTelegram, LongTelegramCutByAPauseDoesNotBlockTheLine)
{
    qopartner::PartnerSettings settings = link_partner_settings();
    settings.send_attempts = 6;
    bring_up(settings);
    const Bytes cut = TelegramSource(21).of_length(1500);
    partner->faults().arm(qopartner::Fault::pause, 1);
    std::future<qopartner::SendReport> report = partner->send(cut);

    const Bytes mine = {'m', 'i', 'n', 'e'};
    EXPECT_EQ(qo3964m_send(APP_HANDLE, mine.data(), static_cast<int>(mine.size()), 15), QO3964_SEND_DONE);
    ASSERT_EQ(report.wait_for(15s), std::future_status::ready);
    EXPECT_EQ(report.get().outcome, qopartner::SendOutcome::acknowledged);
    EXPECT_TRUE(fetch_telegram(cut, 5000));
}

}  // namespace
}  // namespace qosoak
