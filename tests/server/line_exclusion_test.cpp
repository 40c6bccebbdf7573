// SPDX-License-Identifier: MIT
// One server per line: per lockfile (its lock), per serial port (its lock
// and TIOCEXCL) and per segment key.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server_harness.h"
#include "test_support.h"
#include "wait_until.h"

namespace {

using namespace qotest;
using namespace std::chrono_literals;

constexpr int START_LIMIT_MS = 15000;

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Two servers started on one rc-file at the same moment, several times
// over: one runs, the other stops at the lockfile, which stays, naming the
// one that runs.
TEST(LineExclusion, TwoServersStartedAtOnceLeaveOneRunningWithItsLockfile)
{
    std::vector<std::unique_ptr<ServerHarness>> lines;
    std::vector<std::unique_ptr<Process>> servers;
    for (int pair = 0; pair < 6; ++pair) {
        lines.push_back(std::make_unique<ServerHarness>());
        for (int i = 0; i < 2; ++i) {
            servers.push_back(std::make_unique<Process>(
                std::vector<std::string>{program_path("qo3964_server"), lines.back()->rc_file()}));
        }
    }
    for (size_t pair = 0; pair < lines.size(); ++pair) {
        Process* first = servers[2 * pair].get();
        Process* second = servers[2 * pair + 1].get();
        ASSERT_TRUE(wait_until([&] { return contains(first->out() + second->out(), "[14] is up and ok"); }, 15s));
        const bool first_won = contains(first->out(), "[14] is up and ok");
        Process* loser = first_won ? second : first;
        EXPECT_EQ(loser->wait_exit(START_LIMIT_MS), 1);
        EXPECT_TRUE(contains(loser->out(), "[4a] a server, attaching this shm,is already running")) << loser->out();
        EXPECT_EQ(read_file(lines[pair]->lockfile()), std::to_string((first_won ? first : second)->pid()) + "\n");
    }
}

// A second server, for another segment, on the port of a running one: the
// port is refused as an open failure, with its holder named in the log.
TEST(LineExclusion, SecondServerOnAHeldPortIsRefused)
{
    ServerHarness first;
    ASSERT_TRUE(first.start(START_LIMIT_MS)) << first.process().out();
    const std::string port = first.pty().slave_path();
    ServerHarness second("PORT " + port + "\n");
    EXPECT_FALSE(second.start(3000));
    EXPECT_EQ(second.process().wait_exit(START_LIMIT_MS), 1);
    const std::string err = second.process().err();
    EXPECT_EQ(err.rfind("Cannot open this device.\n", 0), 0u) << err;
    EXPECT_TRUE(contains(err, "<3>qo3964_server: " + port + ": Device or resource busy\n")) << err;
    EXPECT_TRUE(contains(err, "hint: process " + std::to_string(first.process().pid()) + " holds " + port)) << err;
    EXPECT_TRUE(contains(second.process().out(), "[11] error on initializing the communication port"));
}

// A line whose key file gives the key of a running server's segment (here
// the same file by another name) is told to choose another SHMNAME, not to
// remove the segment.
TEST(LineExclusion, SecondLineOnTheKeyOfARunningServerIsToldToChooseAnotherShmname)
{
    ServerHarness first;
    ASSERT_TRUE(first.start(START_LIMIT_MS)) << first.process().out();
    ServerHarness second("SHMNAME " + first.dir().path() + "/./link.shm\n");
    EXPECT_FALSE(second.start(3000));
    EXPECT_EQ(second.process().wait_exit(START_LIMIT_MS), 1);
    EXPECT_TRUE(contains(second.process().out(), "[7a] shared memory already or still exists"));
    EXPECT_TRUE(contains(second.process().err(), "hint: another line uses the key: the running qo3964_server of key "
                                                 "file \"" + first.shm_file() + "\" and port " +
                                                     first.pty().slave_path() + "; give this line another SHMNAME"))
        << second.process().err();
}

}  // namespace
