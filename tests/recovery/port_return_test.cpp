// SPDX-License-Identifier: MIT
// The server's port goes away under it (the partner's pty closed, as when
// a USB adapter is pulled) and comes back behind the same path: the server
// says so, shows the line down, fails sends meanwhile, does not spin, and
// serves the same segment again once the port is back.
#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>

#include "link_fixture.h"
#include "process_cpu.h"
#include "qo3964_client.h"

namespace qosoak {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int BOUND_MS = 15000;

class PortReturn : public LinkFixture {
protected:
    bool line_state_becomes(uint8_t state)
    {
        return wait_until([&] { return view->segment().send_job.spare_flag == state; },
                                  std::chrono::milliseconds(BOUND_MS));
    }

    std::string ctl_status()
    {
        qotest::Process ctl({qotest::program_path("qo3964_ctl"), "--rc", server->rc_file(), "status"});
        EXPECT_EQ(ctl.wait_exit(BOUND_MS), 0);
        return ctl.out();
    }
};

TEST_F(PortReturn, PortIsReopenedAndTrafficResumesWithTheSameSegment)
{
    bring_up();
    ASSERT_TRUE(both_ways(BOUND_MS));

    drop_partner();
    ASSERT_TRUE(server->process().wait_for_output("lost port " + port_path(), BOUND_MS))
        << server->process().out() << server->process().err();
    ASSERT_TRUE(line_state_becomes(LINE_STATE_DOWN));
    EXPECT_NE(ctl_status().find("line: down"), std::string::npos);
    EXPECT_NE(server->process().err().find("<3>qo3964_server: port " + port_path() + " lost"), std::string::npos)
        << server->process().err();

    // Down, the server waits without spinning and refuses sends at once.
    const pid_t pid = server->process().pid();
    const double cpu_before = cpu_seconds(pid);
    const auto begun = Clock::now();
    const Bytes telegram = {0x01, 0x02};
    EXPECT_EQ(qo3964m_send(APP_HANDLE, telegram.data(), static_cast<int>(telegram.size()), 30),
              QO3964_ERR_NO_CONNECT);
    // No STX went out: the log blames the port, not the partner.
    EXPECT_NE(server->process().err().find("send failed: -84, the port is down"), std::string::npos)
        << server->process().err();
    EXPECT_EQ(server->process().err().find("partner stopped answering"), std::string::npos);
    std::this_thread::sleep_for(1s);
    const double share = (cpu_seconds(pid) - cpu_before) / std::chrono::duration<double>(Clock::now() - begun).count();
    std::fprintf(stderr, "server CPU while the port is down: %.1f %%\n", share * 100.0);
    EXPECT_LT(share, 0.2);

    new_partner();
    // The device comes back with other settings; the stop puts back those
    // found at the first open.
    termios replugged{};
    ASSERT_EQ(tcgetattr(partner->line().fd(), &replugged), 0);
    cfsetspeed(&replugged, B4800);
    ASSERT_EQ(tcsetattr(partner->line().fd(), TCSANOW, &replugged), 0);
    partner->start();
    ASSERT_TRUE(server->process().wait_for_output("port " + port_path() + " reopened", BOUND_MS));
    ASSERT_TRUE(line_state_becomes(LINE_STATE_UP));
    EXPECT_NE(ctl_status().find("line: up"), std::string::npos);
    EXPECT_TRUE(both_ways(BOUND_MS));

    EXPECT_EQ(server->stop(), 1);
    EXPECT_NE(server->process().out().find("ENDED"), std::string::npos);
    termios restored{};
    ASSERT_EQ(tcgetattr(partner->line().fd(), &restored), 0);
    EXPECT_EQ(cfgetospeed(&restored), B9600);  // the partner's pty at the first open
}

// While the port is away, its link's directory becomes writable by others:
// the server does not reopen it, says why, and reopens it once the
// directory is private again.
TEST_F(PortReturn, PortIsNotReopenedWhileAnotherAccountCouldRepointIt)
{
    bring_up();
    drop_partner();
    ASSERT_TRUE(server->process().wait_for_output("lost port " + port_path(), BOUND_MS));
    ASSERT_EQ(chmod(port_dir().c_str(), 0777), 0);
    new_partner();
    partner->start();
    ASSERT_TRUE(wait_until([&] { return server->process().err().find("port not reopened: " + port_path()) !=
                                        std::string::npos; },
                           std::chrono::milliseconds(BOUND_MS)))
        << server->process().err();
    EXPECT_EQ(server->process().out().find("reopened"), std::string::npos);

    ASSERT_EQ(chmod(port_dir().c_str(), 0700), 0);
    ASSERT_TRUE(server->process().wait_for_output("port " + port_path() + " reopened", BOUND_MS));
    EXPECT_TRUE(both_ways(BOUND_MS));
}

}  // namespace
}  // namespace qosoak
