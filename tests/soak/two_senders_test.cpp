// SPDX-License-Identifier: MIT
// Two applications that send through one server at the same moment: every
// telegram reaches the partner whole and once, none mixed from the two.
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <vector>

#include "link_fixture.h"
#include "tagged_telegram.h"

namespace qosoak {
namespace {

constexpr int PER_APPLICATION = 200;

class TwoSenders : public LinkFixture {};

TEST_F(TwoSenders, TelegramsOfTwoApplicationsAtOnceNeverMix)
{
    bring_up(link_partner_settings(), false);
    std::mutex mutex;
    std::vector<Bytes> received;
    partner->on_received([&](const Bytes& telegram) {
        const std::lock_guard lock(mutex);
        received.push_back(telegram);
    });
    partner->start();

    const std::vector<uint8_t> tags{0xA1, 0xB2};
    std::vector<std::unique_ptr<qotest::Process>> applications;
    for (const uint8_t tag : tags) {
        applications.push_back(std::make_unique<qotest::Process>(std::vector<std::string>{
            qotest::program_path("tagged_sender"), server->rc_file(), std::to_string(tag),
            std::to_string(PER_APPLICATION)}));
    }
    for (const auto& application : applications) {
        EXPECT_EQ(application->wait_exit(240000), 0) << application->out() << application->err();
    }

    const std::lock_guard lock(mutex);
    std::map<uint8_t, std::vector<int>> arrived{{tags[0], std::vector<int>(PER_APPLICATION)},
                                                {tags[1], std::vector<int>(PER_APPLICATION)}};
    for (const Bytes& telegram : received) {
        bool known = false;
        for (const uint8_t tag : tags) {
            const std::optional<uint16_t> number = whole_telegram_of(tag, telegram);
            if (number && *number < PER_APPLICATION) {
                ++arrived[tag][*number];
                known = true;
            }
        }
        EXPECT_TRUE(known) << "neither application's telegram: " << log_hex(telegram);
    }
    for (const auto& [tag, counts] : arrived) {
        for (int number = 0; number < PER_APPLICATION; ++number) {
            EXPECT_EQ(counts[static_cast<size_t>(number)], 1) << "application " << int(tag) << ", telegram " << number;
        }
    }
}

}  // namespace
}  // namespace qosoak
