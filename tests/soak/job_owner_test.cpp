// SPDX-License-Identifier: MIT
// Two applications on one server, each in a process of its own: every job
// has one owner. A result goes only to the application that sent, a
// received telegram to exactly one fetching application, and a claim of a
// block stays with its holder for as long as that process lives.
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <thread>

#include "link_fixture.h"
#include "qo3964_client.h"
#include "tagged_telegram.h"

namespace qosoak {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int SEND_TIMEOUT_S = 10;
constexpr int ROUNDS = 20;
constexpr int TELEGRAMS = 300;
// How long the holder of a claim stands still in its hand-over.
constexpr auto HOLD = 5s;

class JobOwner : public LinkFixture {
protected:
    std::unique_ptr<qotest::Process> application(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{qotest::program_path("job_owner_app"), server->rc_file()};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<qotest::Process>(argv);
    }
    // Until `count` more processes than the test's two have attached the segment.
    bool attached(long count) const
    {
        return wait_until([&] { return view->attach_count() >= 2 + count; }, 10s);
    }
    int send(const Bytes& telegram)
    {
        return qo3964m_send(APP_HANDLE, telegram.data(), static_cast<int>(telegram.size()), SEND_TIMEOUT_S);
    }
};

// A waiting qo3964m_send beside an application that polls
// qo3964m_send_control without a send of its own.
TEST_F(JobOwner, WaitingSenderGetsEachOfItsResultsBesideAPoller)
{
    bring_up();
    const auto poller = application({"poll"});
    ASSERT_TRUE(attached(1));
    for (int round = 0; round < ROUNDS; ++round) {
        const Bytes telegram = tagged_telegram(0xA5, static_cast<uint16_t>(round));
        EXPECT_EQ(send(telegram), QO3964_SEND_DONE) << round;
        EXPECT_EQ(partner->wait_received(5s), telegram) << round;
    }
    poller->signal(SIGTERM);
    EXPECT_EQ(poller->wait_exit(10000), 0) << poller->out();
}

// Two applications fetch from one server: each numbered telegram reaches
// one of them, once and whole.
TEST_F(JobOwner, TwoFetchersGetEachTelegramOnceAndWhole)
{
    bring_up();
    const std::vector<std::shared_ptr<qotest::Process>> fetchers{application({"fetch"}), application({"fetch"})};
    ASSERT_TRUE(attached(2));
    constexpr uint8_t TAG = 0xC3;
    for (int number = 0; number < TELEGRAMS; ++number) {
        ASSERT_TRUE(partner_sends(tagged_telegram(TAG, static_cast<uint16_t>(number)))) << number;
    }
    const auto lines = [&] {
        std::vector<std::string> all;
        for (const auto& fetcher : fetchers) {
            std::istringstream out(fetcher->out());
            for (std::string line; std::getline(out, line);) {
                all.push_back(line);
            }
        }
        return all;
    };
    EXPECT_TRUE(wait_until([&] { return lines().size() >= TELEGRAMS; }, 60s)) << lines().size();
    for (const auto& fetcher : fetchers) {
        fetcher->signal(SIGTERM);
        EXPECT_EQ(fetcher->wait_exit(10000), 0);
    }
    std::map<std::string, int> count;
    for (const std::string& line : lines()) {
        ++count[line];
    }
    EXPECT_EQ(lines().size(), static_cast<size_t>(TELEGRAMS));
    for (int number = 0; number < TELEGRAMS; ++number) {
        EXPECT_EQ(count[std::to_string(TAG) + " " + std::to_string(number)], 1) << number;
    }
}

// An application stopped (SIGSTOP, a debugger) in the midst of handing a
// telegram over keeps its claim: another one is refused with -26 and
// writes nothing; resumed, the holder finishes its hand-over, and both
// telegrams go out whole.
TEST_F(JobOwner, HolderStoppedInItsHandOverKeepsItsClaim)
{
    bring_up();
    constexpr uint8_t HOLDER_TAG = 0x77;
    const auto holder = application({"hold", std::to_string(HOLDER_TAG)});
    ASSERT_TRUE(wait_until([&] { return qotest::process_state(holder->pid()) == 'T'; }, 10s)) << holder->out();
    const Bytes other = tagged_telegram(0x5A, 1);
    const auto stopped = Clock::now();
    while (Clock::now() - stopped < HOLD) {
        ASSERT_EQ(send(other), QO3964_ERR_JOB_RUNNING);
        std::this_thread::sleep_for(100ms);
    }
    holder->signal(SIGCONT);
    EXPECT_EQ(holder->wait_exit(10000), 0) << holder->out();
    int result = QO3964_ERR_JOB_RUNNING;
    wait_until([&] { return (result = send(other)) != QO3964_ERR_JOB_RUNNING; }, 20s);
    EXPECT_EQ(result, QO3964_SEND_DONE);
    EXPECT_EQ(partner->wait_received(5s), tagged_telegram(HOLDER_TAG, 0));
    EXPECT_EQ(partner->wait_received(5s), other);
}

}  // namespace
}  // namespace qosoak
