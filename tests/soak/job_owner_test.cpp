// SPDX-License-Identifier: MIT
// Two applications on one server: every job has one owner. A result goes
// only to the handle that sent, a received telegram to exactly one
// fetching application, and a claim of a block stays with its holder for
// as long as that process lives.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
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
    // job_owner_app in `mode`, once it has attached the segment.
    static std::shared_ptr<qotest::Process> application(const std::string& rc, const std::string& mode,
                                                        const std::string& tag = "")
    {
        auto app = std::make_shared<qotest::Process>(
            std::vector<std::string>{qotest::program_path("job_owner_app"), rc, mode, tag});
        EXPECT_TRUE(wait_until([&] { return app->err() == "open\n"; }, 10s)) << app->err();
        return app;
    }
    int send(const Bytes& telegram)
    {
        return qo3964m_send(APP_HANDLE, telegram.data(), static_cast<int>(telegram.size()), SEND_TIMEOUT_S);
    }
};

// A waiting qo3964m_send beside another handle that polls
// qo3964m_send_control without a send of its own.
TEST_F(JobOwner, WaitingSenderGetsEachOfItsResultsBesideAPoller)
{
    bring_up();
    constexpr int POLLER = APP_HANDLE + 1;
    ASSERT_EQ(qo3964m_open_shm(POLLER, server->rc_file().c_str()), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> collected{0};
    std::thread poller([&] {
        while (!stop) {
            collected += qo3964m_send_control(POLLER) != QO3964_TASK_IDLE ? 1 : 0;
            std::this_thread::yield();
        }
    });
    for (int round = 0; round < ROUNDS; ++round) {
        const Bytes telegram = tagged_telegram(0xA5, static_cast<uint16_t>(round));
        EXPECT_EQ(send(telegram), QO3964_SEND_DONE) << round;
        EXPECT_EQ(partner->wait_received(5s), telegram) << round;
    }
    stop = true;
    poller.join();
    qo3964m_close_shm(POLLER);
    EXPECT_EQ(collected, 0);
}

// Two applications fetch from one server: each numbered telegram reaches
// one of them, once and whole.
TEST_F(JobOwner, TwoFetchersGetEachTelegramOnceAndWhole)
{
    bring_up();
    const std::vector<std::shared_ptr<qotest::Process>> fetchers{application(server->rc_file(), "fetch"), application(server->rc_file(), "fetch")};
    constexpr uint8_t TAG = 0xC3;
    for (int number = 0; number < TELEGRAMS; ++number) {
        ASSERT_TRUE(partner_sends(tagged_telegram(TAG, static_cast<uint16_t>(number)))) << number;
    }
    const auto fetched = [&] {
        std::vector<std::string> lines;
        std::istringstream out(fetchers[0]->out() + fetchers[1]->out());
        for (std::string line; std::getline(out, line);) {
            lines.push_back(line);
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    EXPECT_TRUE(wait_until([&] { return fetched().size() >= TELEGRAMS; }, 60s));
    std::vector<std::string> each_once;
    for (int number = 0; number < TELEGRAMS; ++number) {
        each_once.push_back(std::to_string(TAG) + " " + std::to_string(number));
    }
    std::sort(each_once.begin(), each_once.end());
    EXPECT_EQ(fetched(), each_once);
}

// An application stopped (SIGSTOP, a debugger) in the midst of handing a
// telegram over keeps its claim: another one is refused with -26 and
// writes nothing; resumed, the holder finishes its hand-over, and both
// telegrams go out whole.
TEST_F(JobOwner, HolderStoppedInItsHandOverKeepsItsClaim)
{
    bring_up();
    constexpr uint8_t HOLDER_TAG = 0x77;
    const auto holder = application(server->rc_file(), "hold", std::to_string(HOLDER_TAG));
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
