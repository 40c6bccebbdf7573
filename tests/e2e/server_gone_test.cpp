// SPDX-License-Identifier: MIT
// A server that has stopped, and one that was never there.
#include <csignal>
#include <future>

#include "e2e_fixture.h"
#include "test_segment.h"

namespace e2etest {
namespace {

using qopartner::Fault;

class ServerGoneTest : public LinkedTest {};

TEST_F(ServerGoneTest, EveryCallAfterTheStopGivesServerShutdown)
{
    // The partner never answers and the server tries for long, so the send
    // is still waiting for its result when the server stops.
    connect("ZVZ 100\nQVZ 500\nTDS 100\nTDR 2\n");
    partner().faults().set_probability(Fault::silent_to_stx, 1.0);
    const Bytes telegram = awkward_telegram(16);
    // A time-out far beyond the stop: a send that missed the stop ends
    // with -99 instead of hanging the test.
    auto waiting = std::async(std::launch::async,
                              [&] { return qo3964m_send(HANDLE, telegram.data(), 16, 25); });
    ASSERT_TRUE(wait_until([&] { return partner().stats().injected(Fault::silent_to_stx) >= 1; }, LINE_BOUND));
    ASSERT_EQ(waiting.wait_for(0s), std::future_status::timeout);

    EXPECT_EQ(link->server().stop(), 1);
    ASSERT_EQ(waiting.wait_for(LINE_BOUND), std::future_status::ready);
    EXPECT_EQ(waiting.get(), QO3964_ERR_SHUTDOWN);

    uint8_t buffer[QO3964_TELEGRAM_MAX];
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_ERR_SHUTDOWN);
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer, sizeof buffer), QO3964_ERR_SHUTDOWN);
    EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), 16, 5), QO3964_ERR_SHUTDOWN);
    EXPECT_EQ(qo3964m_send_strt(HANDLE, telegram.data(), 16, 5), QO3964_ERR_SHUTDOWN);

    // The segment is gone: the handle cannot be opened on it again.
    EXPECT_EQ(qo3964m_close_shm(HANDLE), 0);
    EXPECT_EQ(qo3964m_open_shm(HANDLE, link->rc_file().c_str()), QO3964_ERR_NO_SHM);
}

// A server killed without its orderly stop writes no marks: a send that
// waits without a time-out, and an application polling for telegrams,
// learn of it from the segment itself (its creator has ended).
TEST_F(ServerGoneTest, KilledServerEndsAnUntimedSendAndThePolling)
{
    connect("ZVZ 100\nQVZ 500\nTDS 100\nTDR 2\n");
    partner().faults().set_probability(Fault::silent_to_stx, 1.0);
    const Bytes telegram = awkward_telegram(16);
    auto waiting = std::async(std::launch::async, [&] { return qo3964m_send(HANDLE, telegram.data(), 16, 0); });
    ASSERT_TRUE(wait_until([&] { return partner().stats().injected(Fault::silent_to_stx) >= 1; }, LINE_BOUND));

    link->server().process().signal(SIGKILL);
    ASSERT_EQ(link->server().process().wait_exit(15000), 128 + SIGKILL);
    ASSERT_EQ(waiting.wait_for(LINE_BOUND), std::future_status::ready);
    EXPECT_EQ(waiting.get(), QO3964_ERR_SHUTDOWN);
    uint8_t buffer[16];
    EXPECT_EQ(qo3964m_receive(HANDLE, buffer, sizeof buffer), QO3964_ERR_SHUTDOWN);
    EXPECT_EQ(qo3964m_send_control(HANDLE), QO3964_ERR_SHUTDOWN);
}

TEST(ServerAbsentTest, KeyFileWithoutSegmentGivesNoSharedMemory)
{
    qotest::TempDir dir;
    const std::string shm_file = dir.file("link.shm");
    const std::string rc_file = dir.file("qo3964.rc");
    qotest::write_file(shm_file, "");
    qotest::write_file(rc_file, "PORT /dev/null\nSHMNAME " + shm_file + "\n");

    EXPECT_EQ(qo3964m_open_shm(0, rc_file.c_str()), QO3964_ERR_NO_SHM);
    qo3964_server_info info{};
    EXPECT_EQ(qo3964m_svr_info(0, &info), QO3964_ERR_NOT_ATTACHED);
    EXPECT_STREQ(info.server_name, "--NONE--");
    const uint8_t byte = 0;
    EXPECT_EQ(qo3964m_send(0, &byte, 1, 1), QO3964_ERR_NOT_ATTACHED);
    EXPECT_FALSE(qotest::segment_exists(shm_file));
}

}  // namespace
}  // namespace e2etest
