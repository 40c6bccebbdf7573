// SPDX-License-Identifier: MIT
// A server killed by SIGKILL, without its orderly stop, and started again.
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include "link_fixture.h"
#include "qo3964_client.h"
#include "test_segment.h"

namespace qosoak {
namespace {

using namespace std::chrono_literals;

// The line mode a killed server leaves on a pty: its speed stays, so the
// next server's only change is parity, which a pty does not take, and
// tcsetattr then fails as a whole. A serial port takes parity; here the
// pty gets back its first mode, as the orderly stop would have restored.
bool reset_pty_mode(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    termios mode{};
    bool done = tcgetattr(fd, &mode) == 0;
    if (done) {
        cfmakeraw(&mode);
        cfsetspeed(&mode, B9600);
        done = tcsetattr(fd, TCSANOW, &mode) == 0;
    }
    close(fd);
    return done;
}

class KilledServer : public LinkFixture {};

TEST_F(KilledServer, RestartStopsAt7aUntilTheSegmentIsRemoved)
{
    bring_up();
    const Bytes before = {'b', 'e', 'f', 'o', 'r', 'e'};
    ASSERT_EQ(qo3964m_send(APP_HANDLE, before.data(), static_cast<int>(before.size()), 10), QO3964_SEND_DONE);

    const pid_t killed = server->process().pid();
    server->process().signal(SIGKILL);
    ASSERT_EQ(server->process().wait_exit(5000), 128 + SIGKILL);

    // Left behind: the segment, unmarked, and the lockfile with the dead ID.
    EXPECT_TRUE(qotest::segment_exists(server->shm_file()));
    EXPECT_EQ(qotest::read_file(server->lockfile()), std::to_string(killed) + "\n");
    EXPECT_EQ(view->segment().send_job.shutdown_mark, 0);
    // A client still attached learns that the server is gone: its send
    // ends with the shutdown code instead of waiting.
    const Bytes orphan = {'o', 'r', 'p', 'h', 'a', 'n'};
    EXPECT_EQ(qo3964m_send(APP_HANDLE, orphan.data(), static_cast<int>(orphan.size()), 0), QO3964_ERR_SHUTDOWN);

    // The restart stops at the segment probe; it rewrote the lockfile (the
    // ID in it is dead) and deletes it again, and leaves the segment alone.
    qotest::Process restart({qotest::program_path("qo3964_server"), server->rc_file()}, server->dir().path());
    ASSERT_EQ(restart.wait_exit(15000), 1) << restart.out();
    EXPECT_NE(restart.out().find("[7a] shared memory already or still exists"), std::string::npos) << restart.out();
    EXPECT_NE(restart.out().find("ENDED"), std::string::npos);
    EXPECT_FALSE(qotest::file_exists(server->lockfile()));
    EXPECT_TRUE(qotest::segment_exists(server->shm_file()));

    // Once the segment is removed (the operator's "ipcrm -m <id>"), the next start comes up.
    ASSERT_TRUE(qotest::remove_segment(server->shm_file()));
    EXPECT_FALSE(qotest::segment_exists(server->shm_file()));
    ASSERT_TRUE(reset_pty_mode(partner->path()));
    ASSERT_TRUE(server->start()) << server->process().out();

    // The old handle still reports the old server gone; opening the handle
    // again reaches the new server.
    EXPECT_EQ(qo3964m_send_control(APP_HANDLE), QO3964_ERR_SHUTDOWN);
    ASSERT_EQ(qo3964m_open_shm(APP_HANDLE, server->rc_file().c_str()), 0);
    view = std::make_unique<SegmentView>(server->shm_file(), true);
    EXPECT_EQ(qo3964m_send_control(APP_HANDLE), QO3964_TASK_IDLE);
    const Bytes after = {'a', 'f', 't', 'e', 'r'};
    EXPECT_EQ(qo3964m_send(APP_HANDLE, after.data(), static_cast<int>(after.size()), 10), QO3964_SEND_DONE);
    EXPECT_EQ(partner->wait_received(5s), before);
    EXPECT_EQ(partner->wait_received(5s), after);  // the orphan never went out
    const Bytes back = {'b', 'a', 'c', 'k'};
    ASSERT_TRUE(partner_sends(back));
    EXPECT_TRUE(fetch_telegram(back, 5000));

    EXPECT_EQ(server->stop(), 1);
    EXPECT_FALSE(qotest::segment_exists(server->shm_file()));
    EXPECT_FALSE(qotest::file_exists(server->lockfile()));
}

// A server killed without its orderly stop is seen as gone however its
// process ID looks afterwards: a zombie that its parent has not reaped, or
// the ID taken by another process that runs a program named qo3964_server.
// A waiting send ends, qo3964_ctl calls the segment abandoned, and a new
// start gets past the lockfile to the segment, which it offers to remove.
TEST_F(KilledServer, ServerIsToldGoneWhateverItsProcessIdShowsAfterwards)
{
    for (const bool taken : {false, true}) {
        SCOPED_TRACE(taken ? "process ID taken by another qo3964_server" : "zombie");
        bring_up();
        const pid_t killed = server->process().pid();
        server->process().signal(SIGKILL);
        ASSERT_TRUE(wait_until([&] { return qotest::process_state(killed) == 'Z'; }));
        std::unique_ptr<qotest::ProcessWithId> impostor;
        if (taken) {
            ASSERT_EQ(server->process().wait_exit(5000), 128 + SIGKILL);
            const std::string program = server->dir().file("qo3964_server");
            std::filesystem::copy_file("/bin/sleep", program);
            impostor = std::make_unique<qotest::ProcessWithId>(killed, std::vector<std::string>{program, "60"});
            if (!impostor->started()) {
                GTEST_SKIP() << qotest::NO_PID_CHOICE;
            }
            ASSERT_TRUE(wait_until([&] { return qotest::read_file("/proc/" + std::to_string(killed) + "/comm") ==
                                                "qo3964_server\n"; }));
        }

        const Bytes telegram = {'l', 'a', 't', 'e'};
        EXPECT_EQ(qo3964m_send(APP_HANDLE, telegram.data(), static_cast<int>(telegram.size()), 10),
                  QO3964_ERR_SHUTDOWN);
        qotest::Process status({qotest::program_path("qo3964_ctl"), "--rc", server->rc_file(), "status"});
        EXPECT_EQ(status.wait_exit(15000), 1);  // no server runs
        EXPECT_NE(status.out().find("\ncondition: abandoned"), std::string::npos) << status.out();
        qotest::Process restart({qotest::program_path("qo3964_server"), server->rc_file()}, server->dir().path());
        ASSERT_EQ(restart.wait_exit(15000), 1) << restart.out();
        EXPECT_NE(restart.out().find("[7a] shared memory already or still exists"), std::string::npos)
            << restart.out();
        EXPECT_NE(restart.err().find("ipcrm -m"), std::string::npos) << restart.err();
    }
}

}  // namespace
}  // namespace qosoak
